#include "http/request_json.h"

#include <json-glib/json-glib.h>

#include <functional>
#include <memory>

#include "platform/holders.h"

namespace qz {
namespace {

// Thrown inside this file only: the first fault ends the reading.
struct RequestBodyFault {
  BodyFault fault;
};

[[noreturn]] void BodyFailAt(std::string path, std::string detail) {
  throw RequestBodyFault{{std::move(path), std::move(detail)}};
}

std::string BodyIndexed(std::string_view path, size_t index) {
  return std::string(path) + "[" + std::to_string(index) + "]";
}

// Depth and element count are judged on the raw text before any tree is
// built, so a hostile body costs one pass, not a million nodes or a deep
// recursion in the parser. Syntax is the parser's business; this only
// tracks enough (strings, brackets, keys, commas) to name the place.
class BodyShapeScan {
 public:
  explicit BodyShapeScan(const JsonBodyLimits& limits) : limits_(limits) {}

  void Run(std::string_view text) {
    bool in_string = false;
    bool escaped = false;
    for (const char c : text) {
      if (in_string) {
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          in_string = false;
          if (capturing_) frames_.back().key = std::move(captured_);
          capturing_ = false;
          captured_.clear();
        } else if (capturing_ && captured_.size() < 64) {
          captured_ += c;
        }
        continue;
      }
      switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
          break;
        case '"':
          in_string = true;
          capturing_ = !frames_.empty() && !frames_.back().array && frames_.back().awaiting_key;
          if (!capturing_) ValueStarts();
          break;
        case '[':
        case '{':
          ValueStarts();
          if (frames_.size() >= limits_.depth)
            BodyFailAt(Path(),
                       "more than " + std::to_string(limits_.depth) + " arrays and objects nested");
          frames_.emplace_back().array = c == '[';
          break;
        case ']':
        case '}':
          if (frames_.empty()) return;  // the parser names what is wrong
          frames_.pop_back();
          break;
        case ',':
          if (frames_.empty()) return;
          if (frames_.back().array) {
            ++frames_.back().index;
            frames_.back().has_item = false;
          } else {
            frames_.back().awaiting_key = true;
          }
          break;
        case ':':
          if (!frames_.empty()) frames_.back().awaiting_key = false;
          break;
        default:
          ValueStarts();
      }
    }
  }

 private:
  struct Frame {
    bool array = false;
    size_t index = 0;
    bool has_item = false;     // arrays: the element at index has begun
    bool awaiting_key = true;  // objects
    std::string key;
  };

  void ValueStarts() {
    if (frames_.empty() || !frames_.back().array || frames_.back().has_item) return;
    frames_.back().has_item = true;
    if (++elements_ > limits_.elements)
      BodyFailAt(Path(), "more than " + std::to_string(limits_.elements) + " array elements");
  }

  std::string Path() const {
    std::string path = "$";
    for (const Frame& frame : frames_)
      path = frame.array ? BodyIndexed(path, frame.index) : path + "." + frame.key;
    return path;
  }

  const JsonBodyLimits& limits_;
  std::vector<Frame> frames_;
  size_t elements_ = 0;
  bool capturing_ = false;
  std::string captured_;
};

JsonNode* ParseBodyTree(std::string_view body, const JsonBodyLimits& limits,
                        ObjectPtr<JsonParser>& parser) {
  if (body.size() > limits.bytes)
    BodyFailAt("$", "the body is " + std::to_string(body.size()) + " bytes, more than " +
                        std::to_string(limits.bytes));
  if (!g_utf8_validate(body.data(), static_cast<gssize>(body.size()), nullptr))
    BodyFailAt("$", "the body is not valid UTF-8");
  BodyShapeScan(limits).Run(body);
  parser.reset(json_parser_new());
  ErrorPtr error;
  if (!json_parser_load_from_data(parser.get(), body.data(), static_cast<gssize>(body.size()),
                                  ErrorSlot(error)))
    BodyFailAt("$", std::string("malformed JSON: ") + ErrorText(error));
  JsonNode* root = json_parser_get_root(parser.get());
  if (!root || !JSON_NODE_HOLDS_OBJECT(root)) BodyFailAt("$", "expected an object");
  return root;
}

std::string BodyText(JsonNode* node, const std::string& path) {
  if (!JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_STRING)
    BodyFailAt(path, "expected a string");
  return json_node_get_string(node);
}

JsonArray* BodyArrayAt(JsonNode* node, const std::string& path) {
  if (!JSON_NODE_HOLDS_ARRAY(node)) BodyFailAt(path, "expected an array");
  return json_node_get_array(node);
}

std::vector<std::string> BodyTexts(JsonNode* node, const std::string& path) {
  JsonArray* array = BodyArrayAt(node, path);
  std::vector<std::string> texts;
  for (guint i = 0; i < json_array_get_length(array); ++i)
    texts.push_back(BodyText(json_array_get_element(array, i), BodyIndexed(path, i)));
  return texts;
}

// Each member in turn to `take`, which answers false for a name it does not know.
void BodyMembers(
    JsonNode* node, const std::string& path,
    const std::function<bool(const char* name, JsonNode* value, const std::string& at)>& take) {
  if (!JSON_NODE_HOLDS_OBJECT(node)) BodyFailAt(path, "expected an object");
  JsonObject* object = json_node_get_object(node);
  std::unique_ptr<GList, decltype(&g_list_free)> names(json_object_get_members(object),
                                                       g_list_free);
  for (GList* item = names.get(); item; item = item->next) {
    const char* name = static_cast<const char*>(item->data);
    const std::string at = path + "." + name;
    if (!take(name, json_object_get_member(object, name), at)) BodyFailAt(at, "unknown field");
  }
}

// One list per message, or one flat list that every message gets.
std::vector<std::vector<std::string>> BodyRecipients(JsonNode* node, const std::string& path,
                                                     size_t messages) {
  JsonArray* array = BodyArrayAt(node, path);
  const guint length = json_array_get_length(array);
  const bool flat = length == 0 || !JSON_NODE_HOLDS_ARRAY(json_array_get_element(array, 0));
  if (flat) return std::vector<std::vector<std::string>>(messages, BodyTexts(node, path));
  if (length != messages)
    BodyFailAt(path, std::to_string(length) + " recipient lists for " + std::to_string(messages) +
                         " messages");
  std::vector<std::vector<std::string>> lists;
  for (guint k = 0; k < length; ++k)
    lists.push_back(BodyTexts(json_array_get_element(array, k), BodyIndexed(path, k)));
  return lists;
}

NotificationGroup BodyGroup(JsonNode* node, const std::string& path) {
  NotificationGroup group;
  JsonNode* emails = nullptr;
  JsonNode* pagers = nullptr;
  bool has_messages = false;
  BodyMembers(node, path, [&](const char* name, JsonNode* value, const std::string& at) {
    const std::string_view field = name;
    if (field == "messages") {
      group.messages = BodyTexts(value, at);
      has_messages = true;
    } else if (field == "emails") {
      emails = value;
    } else if (field == "pagers") {
      pagers = value;
    } else {
      return false;
    }
    return true;
  });
  if (!has_messages) BodyFailAt(path + ".messages", "missing");
  const size_t count = group.messages.size();
  group.emails = emails ? BodyRecipients(emails, path + ".emails", count)
                        : std::vector<std::vector<std::string>>(count);
  group.pagers = pagers ? BodyRecipients(pagers, path + ".pagers", count)
                        : std::vector<std::vector<std::string>>(count);
  return group;
}

NotificationRequest BodyRequest(JsonNode* root) {
  NotificationRequest request;
  bool has_groups = false;
  BodyMembers(root, "$", [&](const char* name, JsonNode* value, const std::string& at) {
    const std::string_view field = name;
    if (field == "groups") {
      JsonArray* groups = BodyArrayAt(value, at);
      for (guint i = 0; i < json_array_get_length(groups); ++i)
        request.groups.push_back(BodyGroup(json_array_get_element(groups, i), BodyIndexed(at, i)));
      has_groups = true;
      return true;
    }
    const std::pair<std::string_view, std::string*> texts[] = {
        {"testId", &request.test_id},         {"subject", &request.subject},
        {"mailFrom", &request.mail_from},     {"profile", &request.profile},
        {"smtpServer", &request.smtp_server}, {"callback", &request.callback}};
    for (const auto& [known, target] : texts)
      if (field == known) {
        *target = BodyText(value, at);
        return true;
      }
    return false;
  });
  if (!has_groups) BodyFailAt("$.groups", "missing");
  const std::string_view callback = request.callback;
  if (!callback.empty() && !callback.starts_with("http://") && !callback.starts_with("https://"))
    BodyFailAt("$.callback", "expected an http:// or https:// URL");
  return request;
}

Variant ArgTextArray(const std::vector<std::string>& texts) {
  std::vector<Variant> items(texts.begin(), texts.end());
  return Variant::Array(std::move(items));
}

// Level 1 the groups, level 2 each group's messages, level 3 each message's list.
Variant ArgRecipientArray(const NotificationRequest& request,
                          std::vector<std::vector<std::string>> NotificationGroup::*lists) {
  std::vector<Variant> groups;
  for (const NotificationGroup& group : request.groups) {
    std::vector<Variant> per_message;
    for (const auto& list : group.*lists) per_message.push_back(ArgTextArray(list));
    groups.push_back(Variant::Array(std::move(per_message)));
  }
  return Variant::Array(std::move(groups));
}

}  // namespace

std::optional<NotificationRequest> ParseRequestBody(std::string_view body,
                                                    const JsonBodyLimits& limits,
                                                    BodyFault& fault) {
  try {
    ObjectPtr<JsonParser> parser;
    return BodyRequest(ParseBodyTree(body, limits, parser));
  } catch (RequestBodyFault& refused) {
    fault = std::move(refused.fault);
    return std::nullopt;
  }
}

std::optional<std::string> ParseGatewayTestBody(std::string_view body, const JsonBodyLimits& limits,
                                                BodyFault& fault) {
  try {
    ObjectPtr<JsonParser> parser;
    std::optional<std::string> number;
    BodyMembers(ParseBodyTree(body, limits, parser), "$",
                [&](const char* name, JsonNode* value, const std::string& at) {
                  if (std::string_view(name) != "number") return false;
                  number = BodyText(value, at);
                  return true;
                });
    if (!number) BodyFailAt("$.number", "missing");
    return number;
  } catch (RequestBodyFault& refused) {
    fault = std::move(refused.fault);
    return std::nullopt;
  }
}

std::vector<Variant> RequestArguments(const NotificationRequest& request) {
  std::vector<Variant> notes;
  for (const NotificationGroup& group : request.groups)
    notes.push_back(ArgTextArray(group.messages));
  const Variant prefer_smtp(request.smtp_server.empty() ? "" : "True");
  std::vector<Variant> args;
  args.push_back(Variant::Array(std::move(notes)));
  args.push_back(ArgRecipientArray(request, &NotificationGroup::emails));
  args.push_back(ArgRecipientArray(request, &NotificationGroup::pagers));
  args.push_back(
      Variant::Array({Variant(request.subject), Variant(request.mail_from),
                      Variant(request.profile), Variant(request.smtp_server), prefer_smtp}));
  args.push_back(Variant(request.callback));
  args.push_back(Variant(request.test_id));
  return args;
}

size_t RequestTextBytes(const NotificationRequest& request) {
  size_t bytes = request.test_id.size() + request.subject.size() + request.mail_from.size() +
                 request.profile.size() + request.smtp_server.size() + request.callback.size();
  auto add = [&bytes](const std::vector<std::string>& texts) {
    for (const std::string& text : texts) bytes += text.size();
  };
  for (const NotificationGroup& group : request.groups) {
    add(group.messages);
    for (const auto& list : group.emails) add(list);
    for (const auto& list : group.pagers) add(list);
  }
  return bytes;
}

}  // namespace qz
