// What a request still has to send after a try: the recipient arrays are
// narrowed to the parts that failed for now. A part that went, or that was
// refused for good, becomes Empty, which every channel skips; a group's
// list with nothing left for a channel becomes Empty as a whole, so that
// channel does not even open for it. Mail and paging are narrowed apart.
// Refusals for good are returned in the log's words, for the final entry.
// Pure functions over the arrays given.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "gateways/delivery_parts.h"

namespace qz {

// How one channel did for one group in a try.
struct ChannelTry {
  std::string kind = {};  // "mail" or "page", for the daemon's line
  std::string name = {};  // the route or gateway ("SMTP", "SNPP")
  bool ran = false;       // false: the run stopped before this group
  bool delivered = false;
};

// Everything one try did: per group, each channel's answer, and the parts
// each channel told.
struct TriedRequest {
  int64_t groups = 0;                 // in the request, whether the try reached them or not
  bool mail_enabled = false;          // false: the mail arrays are left alone
  std::vector<ChannelTry> mail = {};  // by group
  std::vector<ChannelTry> page = {};
  DeliveryParts mail_parts = {};
  DeliveryParts page_parts = {};
};

struct Narrowing {
  bool transient_left = false;                      // something is worth another try
  std::optional<std::chrono::seconds> retry_after;  // the longest a peer asked for
  // Held back, not failed: the longest any of them must wait.
  std::optional<std::chrono::seconds> waiting;
  std::string permanent;            // "Mail Status: ...::" texts of parts refused for good
  std::string unsent;               // the same of every part that did not go
  std::vector<std::string> failed;  // "page (SNPP) to 5551234: failed: why", per part
};

// Narrows `email` and `pager` (group arrays of recipient lists) in place.
Narrowing NarrowToFailed(Variant& email, Variant& pager, const TriedRequest& tried);
// After NarrowToFailed, when no retry is due but held-back parts still
// wait: empties what failed for now, so that only those go. Answers the
// failures in the log's words.
std::string DropFailed(Variant& email, Variant& pager, const TriedRequest& tried);

}  // namespace qz
