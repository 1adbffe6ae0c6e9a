// Reads one JSON text with json-glib into a plain tree, so tests can check
// what the client prints for scripts. Object members keep their order.
#pragma once

#include <json-glib/json-glib.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz::testing {

// Scalars keep their value, objects their members; arrays read as null.
struct Json {
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<std::pair<std::string, Json>> members;

  // The member named `key` of an object; null when absent or not an object.
  const Json* Find(std::string_view key) const {
    for (const auto& [name, value] : members)
      if (name == key) return &value;
    return nullptr;
  }
};

class JsonReader {
 public:
  // The value of `text`; nothing when it is no JSON.
  static std::optional<Json> Parse(std::string_view text) {
    JsonParser* parser = json_parser_new();
    std::optional<Json> value;
    if (json_parser_load_from_data(parser, text.data(), static_cast<gssize>(text.size()),
                                   nullptr) &&
        json_parser_get_root(parser))
      value = From(json_parser_get_root(parser));
    g_object_unref(parser);
    return value;
  }

 private:
  static Json From(JsonNode* node) {
    Json out;
    const GType type = JSON_NODE_HOLDS_VALUE(node) ? json_node_get_value_type(node) : G_TYPE_NONE;
    if (JSON_NODE_HOLDS_OBJECT(node)) {
      JsonObject* object = json_node_get_object(node);
      GList* names = json_object_get_members(object);  // in document order
      for (GList* n = names; n; n = n->next) {
        const char* name = static_cast<const char*>(n->data);
        out.members.emplace_back(name, From(json_object_get_member(object, name)));
      }
      g_list_free(names);
    } else if (type == G_TYPE_BOOLEAN) {
      out.boolean = json_node_get_boolean(node);
    } else if (type == G_TYPE_STRING) {
      out.text = json_node_get_string(node);
    } else if (type != G_TYPE_NONE) {
      out.number = json_node_get_double(node);
    }
    return out;
  }
};

}  // namespace qz::testing
