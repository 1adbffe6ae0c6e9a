// The JSON bodies of the request API: a notification request (the request
// of SendMessageCallBackEx) and a gateway test, read strictly, and the
// request turned into the operation's arguments. A body that is no such
// request is refused with the JSON path of its fault, before anything is
// queued. The limits are the bus side's, passed in (this room sees none of
// the server's). Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "http/front_door.h"

namespace qz {

struct JsonBodyLimits {
  size_t elements = 10000;  // array elements at every level, over the whole body
  size_t depth = 32;        // arrays and objects nested
  size_t bytes = 1 << 20;
};

// Where a body is wrong and why: "$.groups[3].pagers[0][2]", "expected a string".
struct BodyFault {
  std::string path;
  std::string detail;
};

// {"testId", "groups": [{"messages", "emails", "pagers"}], "subject",
// "mailFrom", "profile", "smtpServer", "callback"}. `emails` and `pagers`
// hold one recipient list per message, or one flat list for every message.
std::optional<NotificationRequest> ParseRequestBody(std::string_view body,
                                                    const JsonBodyLimits& limits, BodyFault& fault);

// {"number": "555"}: the number or pager the test message goes to.
std::optional<std::string> ParseGatewayTestBody(std::string_view body, const JsonBodyLimits& limits,
                                                BodyFault& fault);

// The six arguments of SendMessageCallBackEx, in order: lvarNotes,
// lvarEmail, lvarPager (three levels each), lvarAny (subject, sender,
// profile, SMTP server, and "True" so that a named SMTP server wins over a
// profile), lvarNotify (the callback URL) and lstrTestID.
std::vector<Variant> RequestArguments(const NotificationRequest& request);

// What the request holds in text, for the per-caller byte limits.
size_t RequestTextBytes(const NotificationRequest& request);

}  // namespace qz
