// The hidden host form of one request: it owns the request's timer (and,
// as the channels that need them arrive, their sockets and mail controls).
// Unloading the form is destroying it, which stops its timer for good.
// Owned by one apartment; used only on its thread.
#pragma once

#include <glib.h>

#include "automation/timer.h"
#include "gateways/mail/mail_system.h"

namespace qz {

class RegistryStore;

class frmNotes : public MailControls {
 public:
  // `registry` holds the mail profiles the session control signs on with.
  explicit frmNotes(GMainContext* context, RegistryStore* registry = nullptr)
      : MailControls(registry), Timer1(context) {}

  Timer Timer1;  // designed disabled, interval 1000 ms
};

}  // namespace qz
