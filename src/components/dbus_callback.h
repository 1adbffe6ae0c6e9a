// The callback component for a local host: CallBack(testId, message) is sent
// as CallBack(s, s) on org.qznotes.QzNotes.Callback at "/" of the bus name
// qzCallback.cService, without waiting for a reply. Use it on one thread at
// a time; the connection itself may be shared by every thread.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <span>
#include <string_view>

#include "automation/dispatch_object.h"
#include "contract/contract.h"

namespace qz {

// Shares ownership of a GDBusConnection.
using SharedConnection = std::shared_ptr<GDBusConnection>;
SharedConnection ShareConnection(GDBusConnection* connection);  // takes a new reference

class DbusCallback : public DispatchObject {
 public:
  explicit DbusCallback(SharedConnection connection) : connection_(std::move(connection)) {}

  // "CallBack" with exactly two arguments (else 450); other names raise 438.
  // Raises 51 when the message cannot be queued on the connection.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;

 private:
  SharedConnection connection_;
};

}  // namespace qz
