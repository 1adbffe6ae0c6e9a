#include "client/call_failure.h"

#include <gio/gio.h>

#include <string_view>
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

bool IsErrorCode(std::string_view code) {
  if (code.size() < 2 || (code[0] != 'E' && code[0] != 'N')) return false;
  return code.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

}  // namespace

CallFailure DescribeFailure(const GError* error) {
  CallFailure failure;
  if (!error) return failure;
  CharPtr remote(g_dbus_error_get_remote_error(error));
  const std::string name = remote ? remote.get() : "";
  // The stripped text is the server's message without GDBus's name prefix.
  ErrorPtr copy(g_error_copy(error));
  g_dbus_error_strip_remote_error(copy.get());
  failure.message = copy->message;
  const std::string_view view(name);
  if (view.starts_with(std::string_view(kErrorPrefix)) &&
      IsErrorCode(view.substr(std::string_view(kErrorPrefix).size()))) {
    failure.raised_by_server = true;
    failure.code = name.substr(std::string_view(kErrorPrefix).size());
  }
  return failure;
}

std::string FailureLine(const CallFailure& failure) {
  if (failure.raised_by_server) return "error " + failure.code + ": " + failure.message;
  return "qznotes: " + failure.message;
}

ExitStatus ExitForFailure(const CallFailure& failure) {
  return failure.raised_by_server ? kExitFailed : kExitUsage;
}

}  // namespace qz::client
