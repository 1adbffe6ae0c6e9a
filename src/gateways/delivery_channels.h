// The seam every gateway implements: what a channel and an initialisation
// step may read and change of the object they run for (ChannelCall), and
// their shapes. A channel takes group i of the messages and group i of the
// matching recipient lists and answers true when the group was delivered,
// leaving its failure text in gstrLastError otherwise. Called on the
// requesting object's thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "automation/variant.h"
#include "gateways/delivery_gate.h"
#include "gateways/delivery_parts.h"
#include "gateways/gateway_state.h"

namespace qz {

class ComponentRegistry;
struct MailControls;

// What a channel may read of the object it runs for.
struct ChannelCall {
  std::string_view folder;  // program folder: settings and log live here
  const ComponentRegistry& components;
  std::string_view mstrSubject;
  std::string_view mstrMailFrom;
  std::string_view mstrProfile;
  std::string_view mstrSMTPServer;
  std::string& mstrSNPPStatus;        // left behind by the SNPP channel
  GatewayStates& kept;                // what the gateways keep in the object
  MailControls* mfrmNotes = nullptr;  // the request's host form, with its mail controls
  DeliveryParts* parts = nullptr;     // told how each part went; null: nobody listens
  DeliveryGate* gate = nullptr;       // asked before each recipient; null: every one goes
};

using Channel =
    std::function<bool(const ChannelCall& call, const Variant& notes, const Variant& recipients)>;
// Runs before every page of its gateway; false stops that page.
using InitialiseStep = std::function<bool(const ChannelCall& call)>;

}  // namespace qz
