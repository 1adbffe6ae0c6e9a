// How qznotes test-gateway shows and judges the gateway test's answer.
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "client/exit_status.h"

namespace qz::client {

// The answer without the line end a server reply carries.
std::string AnswerLine(std::string_view answer);

// 0 for "Message Sent", or, for a gateway whose test answers its server's
// reply (SNPP), a text that opens with a three-digit reply code; 1 for
// anything else.
ExitStatus ExitForTestAnswer(int index, std::string_view answer);

}  // namespace qz::client
