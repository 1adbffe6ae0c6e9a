#include "client/api_json.h"

#include <json-glib/json-glib.h>

#include "client/quoted_string.h"
#include "diagnostics/log_text.h"
#include "dispatch/dispatch_trace.h"

namespace qz::client {
namespace {

void AppendTexts(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (size_t k = 0; k < texts.size(); ++k) {
    if (k > 0) out += ',';
    AppendQuoted(out, texts[k]);
  }
  out += ']';
}

// The parsed document, held while its nodes are read.
struct ParsedJson {
  ObjectPtr<JsonParser> parser{json_parser_new()};
  JsonObject* Root(std::string_view text) {
    if (!json_parser_load_from_data(parser.get(), text.data(), static_cast<gssize>(text.size()),
                                    nullptr))
      return nullptr;
    JsonNode* root = json_parser_get_root(parser.get());
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
  }
};

// A text member; an identifier may come as a number.
std::string Member(JsonObject* object, const char* name) {
  JsonNode* node = json_object_get_member(object, name);
  if (!node || !JSON_NODE_HOLDS_VALUE(node)) return "";
  if (json_node_get_value_type(node) == G_TYPE_INT64)
    return std::to_string(json_node_get_int(node));
  return json_node_get_value_type(node) == G_TYPE_STRING ? json_node_get_string(node) : "";
}

bool IsCount(JsonNode* node) {
  return JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == G_TYPE_INT64 &&
         json_node_get_int(node) >= 0;
}

bool IsText(JsonNode* node) {
  return JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == G_TYPE_STRING;
}

// A floating value; null for JSON null, which the bus never answers.
GVariant* StatusValue(JsonNode* node) {
  if (JSON_NODE_HOLDS_OBJECT(node)) {
    JsonObject* object = json_node_get_object(node);
    GList* names = json_object_get_members(object);
    bool counts = names != nullptr;
    for (GList* n = names; n; n = n->next)
      counts = counts && IsCount(json_object_get_member(object, static_cast<char*>(n->data)));
    GVariantBuilder builder;
    g_variant_builder_init(&builder, counts ? G_VARIANT_TYPE("a{st}") : G_VARIANT_TYPE_VARDICT);
    for (GList* n = names; n; n = n->next) {
      const char* name = static_cast<char*>(n->data);
      JsonNode* member = json_object_get_member(object, name);
      if (counts) {
        g_variant_builder_add(&builder, "{st}", name,
                              static_cast<guint64>(json_node_get_int(member)));
      } else if (GVariant* value = StatusValue(member)) {
        g_variant_builder_add(&builder, "{sv}", name, value);
      }
    }
    g_list_free(names);
    return g_variant_builder_end(&builder);
  }
  if (JSON_NODE_HOLDS_ARRAY(node)) {
    JsonArray* array = json_node_get_array(node);
    const guint n = json_array_get_length(array);
    bool texts = true;
    for (guint k = 0; k < n; ++k) texts = texts && IsText(json_array_get_element(array, k));
    GVariantBuilder builder;
    g_variant_builder_init(&builder, texts ? G_VARIANT_TYPE_STRING_ARRAY : G_VARIANT_TYPE("av"));
    for (guint k = 0; k < n; ++k) {
      JsonNode* element = json_array_get_element(array, k);
      if (texts) {
        g_variant_builder_add(&builder, "s", json_node_get_string(element));
      } else if (GVariant* value = StatusValue(element)) {
        g_variant_builder_add(&builder, "v", value);
      }
    }
    return g_variant_builder_end(&builder);
  }
  if (!JSON_NODE_HOLDS_VALUE(node)) return nullptr;
  switch (json_node_get_value_type(node)) {
    case G_TYPE_INT64:
      return g_variant_new_int64(json_node_get_int(node));
    case G_TYPE_DOUBLE:
      return g_variant_new_double(json_node_get_double(node));
    case G_TYPE_BOOLEAN:
      return g_variant_new_boolean(json_node_get_boolean(node));
    default:
      return g_variant_new_string(json_node_get_string(node));
  }
}

ChannelStep StepFromJson(JsonNode* node) {
  ChannelStep step;
  if (!JSON_NODE_HOLDS_OBJECT(node)) return step;
  JsonObject* object = json_node_get_object(node);
  step.group = static_cast<long>(json_object_get_int_member_with_default(object, "group", 0));
  step.channel = Member(object, "channel");
  step.recipients = Member(object, "recipients");
  // The API words a step without recipients (loading the settings) so.
  step.addressed = !step.recipients.empty();
  step.delivered = json_object_get_boolean_member_with_default(object, "delivered", FALSE);
  step.reason = Member(object, "reason");
  return step;
}

}  // namespace

std::string RequestJson(const SendCommand& send, const std::string& test_id) {
  std::string out = "{\"testId\":" + Quoted(test_id) + ",\"groups\":[";
  for (size_t g = 0; g < send.groups.size(); ++g) {
    if (g > 0) out += ',';
    std::vector<std::string> texts;
    std::string emails = "[", pagers = "[";
    for (const Message& m : send.groups[g].messages) {
      texts.push_back(m.text);
      if (emails.size() > 1) emails += ',', pagers += ',';
      AppendTexts(emails, m.emails);
      AppendTexts(pagers, m.pagers);
    }
    out += "{\"messages\":";
    AppendTexts(out, texts);
    out += ",\"emails\":" + emails + "],\"pagers\":" + pagers + "]}";
  }
  out += ']';
  if (send.mail.given) {
    out += ",\"subject\":" + Quoted(send.mail.subject) + ",\"mailFrom\":" + Quoted(send.mail.from) +
           ",\"profile\":" + Quoted(send.mail.profile) +
           ",\"smtpServer\":" + Quoted(send.mail.smtp_server);
  }
  if (!send.callback_host.empty()) out += ",\"callback\":" + Quoted(send.callback_host);
  return out + "}";
}

std::optional<std::string> JsonText(std::string_view json, const char* name) {
  ParsedJson parsed;
  JsonObject* root = parsed.Root(json);
  if (!root || !json_object_has_member(root, name)) return std::nullopt;
  return Member(root, name);
}

std::string RefusalText(long status, std::string_view body) {
  ParsedJson parsed;
  JsonObject* root = parsed.Root(body);
  std::string text = std::to_string(status);
  if (!root) return "HTTP " + text;
  if (const std::string title = Member(root, "title"); !title.empty()) text += " " + title;
  if (const std::string detail = Member(root, "detail"); !detail.empty()) text += ": " + detail;
  if (const std::string path = Member(root, "path"); !path.empty()) text += " (at " + path + ")";
  return text;
}

VariantPtr StatusFromJson(std::string_view json) {
  ParsedJson parsed;
  if (!parsed.Root(json)) return nullptr;
  VariantPtr status = Own(StatusValue(json_parser_get_root(parsed.parser.get())));
  if (!g_variant_is_of_type(status.get(), G_VARIANT_TYPE_VARDICT)) return nullptr;
  return status;
}

std::optional<Delivery> DeliveryFromJson(std::string_view json) {
  ParsedJson parsed;
  JsonObject* root = parsed.Root(json);
  if (!root) return std::nullopt;
  DispatchTrace trace;
  trace.test_id = Member(root, "testId");
  trace.outcome = Member(root, "outcome");
  if (JsonNode* node = json_object_get_member(root, "steps"); node && JSON_NODE_HOLDS_ARRAY(node)) {
    JsonArray* steps = json_node_get_array(node);
    for (guint k = 0; k < json_array_get_length(steps); ++k)
      trace.steps.push_back(StepFromJson(json_array_get_element(steps, k)));
  }
  Delivery delivery{Member(root, "id"), trace.test_id, trace.outcome, {}};
  // The bus carries the details with their control characters escaped.
  for (const std::string& line : TraceDetails(trace))
    delivery.details.push_back(EscapeControls(line));
  return delivery;
}

}  // namespace qz::client
