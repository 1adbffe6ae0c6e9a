// The loop every channel runs over one group, written once: gstrLastError is
// cleared; when messages and recipients are both arrays the channel opens
// what the group needs, and every message is cleaned and delivered to its
// recipients; a run-time error is reported under the channel's procedure
// name. What makes the channels differ is a named part of ChannelFrame.
// When a DeliveryParts listens, every part of the group is told how it went,
// including the parts an opening or a run-time error kept from being tried.
// Runs on the calling object's thread.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "gateways/delivery_gate.h"
#include "gateways/delivery_parts.h"

namespace qz {

// How much one delivery carries.
enum class Delivery {
  kPerRecipient,  // one per recipient that is not Empty
  kPerMessage,    // one per message, with its whole recipient list
};

// Where the text of a refused delivery goes.
enum class Refusals {
  kEachAfterCrLf,  // appended to gstrLastError after CR LF: every one is kept
  kLatestOnly,     // replaces gstrLastError: the last one is kept
};

// What opening the group decided.
enum class Opening {
  kSend,
  kSendNothing,  // no message goes; the answer follows gstrLastError
  kFailed,       // the group fails at once
};

// A delivery that did not go.
struct Failure {
  std::string text = {};  // as the channel words it
  FailureKind kind = FailureKind::kTransient;
  std::optional<std::chrono::seconds> retry_after = {};
  // False: the caller is not told through gstrLastError (the channel has
  // already said what it says, or its status text does).
  bool noted = true;
};
// Nothing when the delivery went.
using Refusal = std::optional<Failure>;

struct ChannelFrame {
  std::string_view procedure;  // names the channel when a run-time error is reported
  bool paging = true;          // texts cleaned for a pager (cut short) rather than a mail
  Delivery delivery = Delivery::kPerRecipient;
  Refusals refusals = Refusals::kEachAfterCrLf;
  // Once per group, before its first message; none: kSend.
  std::function<Opening()> open = {};
  // A recipient is tried only while this answers true; none: always.
  std::function<bool()> reachable = {};
  // One delivery of a cleaned text to a recipient (or to a message's list).
  std::function<Refusal(const std::string& text, const Variant& to)> deliver = {};
  // The kind of a run-time error that stopped the group; none: transient.
  std::function<FailureKind()> error_kind = {};
  // Of a whole message a run-time error stopped: the entries of its list
  // that went before it; none: no entry went.
  std::function<std::vector<int32_t>()> error_went = {};
  // Where each part's outcome goes; null: nobody listens.
  DeliveryParts* parts = nullptr;
  // Asked before each recipient of a per-recipient delivery; null: all go.
  DeliveryGate* gate = nullptr;
};

// Runs `frame` over message k of `notes` and recipient list k of
// `recipients`. True when gstrLastError is empty at the end; a run-time
// error is reported into gstrLastError and answers false.
bool RunChannel(const ChannelFrame& frame, const Variant& notes, const Variant& recipients);

}  // namespace qz
