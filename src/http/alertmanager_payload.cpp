#include "http/alertmanager_payload.h"

#include <json-glib/json-glib.h>

#include "platform/holders.h"

namespace qz {
namespace {

// json-glib descends recursively, so a hostile body of nested brackets
// could exhaust the listener's stack; this pass counts them first.
bool AlertmanagerNestingWithin(std::string_view body, size_t limit) {
  size_t depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

// Reads one object's known members; every failure records the first fault.
class PayloadReader {
 public:
  explicit PayloadReader(PayloadFault& fault) : fault_(fault) {}
  bool failed() const { return failed_; }

  // A member that is absent or null leaves `out` as it is, unless required.
  void Text(JsonObject* object, const std::string& path, const char* name, std::string& out,
            bool required = false) {
    JsonNode* node = Member(object, path, name, required);
    if (!node) return;
    if (JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == G_TYPE_STRING)
      out = json_node_get_string(node);
    else
      Fail(path + "." + name, "must be a string");
  }

  void Count(JsonObject* object, const std::string& path, const char* name, uint64_t& out) {
    JsonNode* node = Member(object, path, name, false);
    if (!node) return;
    if (JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == G_TYPE_INT64 &&
        json_node_get_int(node) >= 0)
      out = static_cast<uint64_t>(json_node_get_int(node));
    else
      Fail(path + "." + name, "must be a whole number, 0 or more");
  }

  void Labels(JsonObject* object, const std::string& path, const char* name, AlertLabels& out) {
    JsonNode* node = Member(object, path, name, false);
    if (!node) return;
    const std::string here = path + "." + name;
    if (!JSON_NODE_HOLDS_OBJECT(node)) return Fail(here, "must be an object of strings");
    JsonObject* labels = json_node_get_object(node);
    JsonObjectIter iter;
    const char* key = nullptr;
    JsonNode* value = nullptr;
    json_object_iter_init(&iter, labels);
    while (!failed_ && json_object_iter_next(&iter, &key, &value)) {
      if (JSON_NODE_HOLDS_VALUE(value) && json_node_get_value_type(value) == G_TYPE_STRING)
        out.insert_or_assign(key, json_node_get_string(value));
      else
        Fail(here + "." + key, "must be a string");
    }
  }

  JsonArray* Array(JsonObject* object, const std::string& path, const char* name) {
    JsonNode* node = Member(object, path, name, true);
    if (!node) return nullptr;
    if (JSON_NODE_HOLDS_ARRAY(node)) return json_node_get_array(node);
    Fail(path + "." + name, "must be an array");
    return nullptr;
  }

  void Fail(std::string path, std::string detail) {
    if (failed_) return;
    failed_ = true;
    fault_ = {std::move(path), std::move(detail)};
  }

 private:
  JsonNode* Member(JsonObject* object, const std::string& path, const char* name, bool required) {
    if (failed_) return nullptr;
    JsonNode* node = json_object_get_member(object, name);
    if (node && !JSON_NODE_HOLDS_NULL(node)) return node;
    if (required) Fail(path + "." + name, "is missing");
    return nullptr;
  }

  PayloadFault& fault_;
  bool failed_ = false;
};

bool IsAlertStatus(std::string_view status) { return status == "firing" || status == "resolved"; }

void ReadAlert(PayloadReader& reader, JsonNode* node, const std::string& path,
               AlertmanagerAlert& alert) {
  if (!JSON_NODE_HOLDS_OBJECT(node)) return reader.Fail(path, "must be an object");
  JsonObject* object = json_node_get_object(node);
  reader.Text(object, path, "status", alert.status);
  reader.Labels(object, path, "labels", alert.labels);
  reader.Labels(object, path, "annotations", alert.annotations);
  reader.Text(object, path, "startsAt", alert.starts_at);
  reader.Text(object, path, "endsAt", alert.ends_at);
  reader.Text(object, path, "generatorURL", alert.generator_url);
  reader.Text(object, path, "fingerprint", alert.fingerprint);
  if (!reader.failed() && !alert.status.empty() && !IsAlertStatus(alert.status))
    reader.Fail(path + ".status", "must be \"firing\" or \"resolved\"");
}

}  // namespace

ParsedPayload ParseAlertmanagerPayload(std::string_view body) {
  ParsedPayload result;
  if (!AlertmanagerNestingWithin(body, kMaxAlertmanagerDepth)) {
    result.fault = {"$", "is nested too deeply"};
    return result;
  }
  ObjectPtr<JsonParser> parser(json_parser_new_immutable());
  ErrorPtr error;
  if (!json_parser_load_from_data(parser.get(), body.data(), static_cast<gssize>(body.size()),
                                  ErrorSlot(error))) {
    result.fault = {"$", std::string("is not JSON: ") + ErrorText(error)};
    return result;
  }
  JsonNode* root = json_parser_get_root(parser.get());
  if (!root || !JSON_NODE_HOLDS_OBJECT(root)) {
    result.fault = {"$", "must be an object"};
    return result;
  }
  JsonObject* object = json_node_get_object(root);
  AlertmanagerPayload payload;
  PayloadReader reader(result.fault);
  reader.Text(object, "$", "version", payload.version, true);
  if (!reader.failed() && payload.version != "4")
    reader.Fail("$.version", "must be \"4\" (the format this receiver reads)");
  reader.Text(object, "$", "groupKey", payload.group_key, true);
  reader.Count(object, "$", "truncatedAlerts", payload.truncated_alerts);
  reader.Text(object, "$", "status", payload.status, true);
  if (!reader.failed() && !IsAlertStatus(payload.status))
    reader.Fail("$.status", "must be \"firing\" or \"resolved\"");
  reader.Text(object, "$", "receiver", payload.receiver);
  reader.Labels(object, "$", "groupLabels", payload.group_labels);
  reader.Labels(object, "$", "commonLabels", payload.common_labels);
  reader.Labels(object, "$", "commonAnnotations", payload.common_annotations);
  reader.Text(object, "$", "externalURL", payload.external_url);
  if (JsonArray* alerts = reader.Array(object, "$", "alerts")) {
    const guint count = json_array_get_length(alerts);
    payload.alerts.resize(count);
    for (guint i = 0; i < count && !reader.failed(); ++i)
      ReadAlert(reader, json_array_get_element(alerts, i), "$.alerts[" + std::to_string(i) + "]",
                payload.alerts[i]);
  }
  if (!reader.failed()) result.payload = std::move(payload);
  return result;
}

}  // namespace qz
