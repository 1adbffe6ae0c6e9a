#include "server/status_json.h"

#include <string>

#include "components/json_text.h"
#include "dispatch/journal_listing.h"
#include "dispatch/server_environment.h"
#include "http/front_door.h"
#include "platform/holders.h"

namespace qz {
namespace {

// The status view as JSON, as `qznotes status --json` prints it:
// dictionaries as objects, other containers as arrays.
void AppendVariantJson(std::string& out, GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
    VariantPtr inner(g_variant_get_variant(value));
    return AppendVariantJson(out, inner.get());
  }
  const bool object = g_variant_is_of_type(value, G_VARIANT_TYPE("a{s*}"));
  switch (g_variant_classify(value)) {
    case G_VARIANT_CLASS_BOOLEAN:
      out += g_variant_get_boolean(value) ? "true" : "false";
      return;
    case G_VARIANT_CLASS_STRING:
      out += JsonString(g_variant_get_string(value, nullptr));
      return;
    case G_VARIANT_CLASS_INT32:
      out += std::to_string(g_variant_get_int32(value));
      return;
    case G_VARIANT_CLASS_UINT32:
      out += std::to_string(g_variant_get_uint32(value));
      return;
    case G_VARIANT_CLASS_INT64:
      out += std::to_string(g_variant_get_int64(value));
      return;
    case G_VARIANT_CLASS_UINT64:
      out += std::to_string(g_variant_get_uint64(value));
      return;
    default:
      break;
  }
  if (!g_variant_is_container(value)) {
    out += "null";
    return;
  }
  out += object ? '{' : '[';
  for (gsize k = 0, n = g_variant_n_children(value); k < n; ++k) {
    if (k > 0) out += ',';
    VariantPtr item(g_variant_get_child_value(value, k));
    if (!object) {
      AppendVariantJson(out, item.get());
      continue;
    }
    VariantPtr key(g_variant_get_child_value(item.get(), 0));
    VariantPtr entry(g_variant_get_child_value(item.get(), 1));
    out += JsonString(g_variant_get_string(key.get(), nullptr)) + ":";
    AppendVariantJson(out, entry.get());
  }
  out += object ? '}' : ']';
}

}  // namespace

HttpAnswer StatusJson(const StatusSources* sources, const std::string& folder) {
  if (!sources) return Problem(503, "Service Unavailable", "the server is not serving yet");
  StatusFacts facts = GatherStatus(*sources);
  if (sources->env.journal) facts.journal_bytes = JournalDiskBytes(folder);
  if (sources->fleet) facts.fleet = sources->fleet();
  VariantPtr reply = Own(StatusReply(facts));
  VariantPtr dict(g_variant_get_child_value(reply.get(), 0));
  std::string json;
  AppendVariantJson(json, dict.get());
  return {200, "application/json", json + "\n"};
}

}  // namespace qz
