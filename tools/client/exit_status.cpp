#include "client/exit_status.h"

#include "client/wire_markers.h"

namespace qz::client {

ExitStatus ExitForAnswer(GVariant* answer) {
  VariantPtr v = Unwrapped(answer);
  if (v && g_variant_is_of_type(v.get(), G_VARIANT_TYPE_STRING) &&
      g_variant_get_string(v.get(), nullptr) == kAcceptedAnswer)
    return kExitOk;
  return kExitFailed;
}

ExitStatus ExitForCallback(std::string_view message) {
  return message == kSentMessage ? kExitOk : kExitFailed;
}

ExitStatus ExitForBoolean(GVariant* result) {
  VariantPtr v = Unwrapped(result);
  if (!v || !g_variant_is_of_type(v.get(), G_VARIANT_TYPE_BOOLEAN)) return kExitUsage;
  return g_variant_get_boolean(v.get()) ? kExitOk : kExitFailed;
}

ExitStatus ExitForResult(GVariant* result) {
  if (!result) return kExitOk;
  return ExitForBoolean(result) == kExitFailed ? kExitFailed : kExitOk;
}

}  // namespace qz::client
