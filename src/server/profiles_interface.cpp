#include "server/profiles_interface.h"

#include <string>
#include <vector>

#include "gateways/mail/mail_profile.h"
#include "platform/holders.h"
#include "platform/registry_store.h"
#include "server/replies.h"

namespace qz {
namespace {

constexpr std::string_view kXml = R"(  <interface name="org.qznotes.QzNotes.Profiles">
    <method name="List"><arg name="names" type="as" direction="out"/></method>
    <method name="Set"><arg name="name" type="s" direction="in"/><arg name="values" type="a{ss}" direction="in"/></method>
    <method name="Remove"><arg name="name" type="s" direction="in"/></method>
  </interface>
)";

constexpr std::string_view kFailed = "org.freedesktop.DBus.Error.Failed";

std::string ProfileObjectPath(std::string_view name) {
  return std::string(kMessageProfilesKey) + std::string(name);
}

void StoreFailure(GDBusConnection* connection, GDBusMessage* call, int32_t status) {
  SendErrorNamed(connection, call, kFailed,
                 "registry store: " + std::string(RegStatusText(status)) + " (" +
                     std::to_string(status) + ")");
}

void List(GDBusConnection* connection, GDBusMessage* call, RegistryStore& store) {
  GVariantBuilder names;
  g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
  RegHandle key = 0;
  int32_t status = store.OpenKey(kHkeyCurrentUser, kMessageProfilesKey, key);
  for (uint32_t i = 0; status == kRegOk; ++i) {
    std::string name;
    status = store.EnumKey(key, i, kRegMaxNameChars + 1, name);
    if (status == kRegOk) g_variant_builder_add(&names, "s", name.c_str());
  }
  if (key) store.CloseKey(key);
  if (status != kRegNotFound && status != kRegNoMoreItems) {
    g_variant_builder_clear(&names);
    return StoreFailure(connection, call, status);
  }
  SendReply(connection, call, g_variant_new("(as)", &names));
}

void Set(GDBusConnection* connection, GDBusMessage* call, GVariant* body, RegistryStore& store) {
  const char* name = nullptr;
  GVariantIter* raw_iter = nullptr;
  g_variant_get(body, "(&sa{ss})", &name, &raw_iter);
  VariantIterPtr iter(raw_iter);
  std::string profile = name;
  RegistryStore::Values values;
  const char* value_name = nullptr;
  const char* value = nullptr;
  while (g_variant_iter_next(iter.get(), "{&s&s}", &value_name, &value))
    values.emplace_back(value_name, value);

  std::string problem = ProfileNameProblem(profile);
  bool has_transport = false;
  for (const auto& [key, data] : values) {
    if (!problem.empty()) break;
    if (g_ascii_strcasecmp(key.c_str(), std::string(kProfileTransport).c_str()) == 0) {
      has_transport = true;
      problem = TransportProblem(data);
    } else if (g_ascii_strcasecmp(key.c_str(), std::string(kProfileFrom).c_str()) == 0) {
      if (data.find_first_of("\r\n") != std::string::npos) problem = "From holds a line break";
    } else {
      problem = "a profile has only the values Transport and From, not " + key;
    }
  }
  if (problem.empty() && !has_transport) problem = "a profile needs a Transport";
  if (!problem.empty()) return SendErrorNamed(connection, call, kInvalidArgsError, problem);
  if (int32_t status = store.ReplaceValues(kHkeyCurrentUser, ProfileObjectPath(profile), values);
      status != kRegOk)
    return StoreFailure(connection, call, status);
  SendReply(connection, call, nullptr);
}

void Remove(GDBusConnection* connection, GDBusMessage* call, GVariant* body, RegistryStore& store) {
  const char* name = nullptr;
  g_variant_get(body, "(&s)", &name);
  std::string problem = ProfileNameProblem(name);
  if (!problem.empty()) return SendErrorNamed(connection, call, kInvalidArgsError, problem);
  int32_t status = store.DeleteTree(kHkeyCurrentUser, ProfileObjectPath(name));
  if (status == kRegNotFound)
    return SendErrorNamed(connection, call, kInvalidArgsError,
                          "no profile named " + std::string(name));
  if (status != kRegOk) return StoreFailure(connection, call, status);
  SendReply(connection, call, nullptr);
}

bool HasSignature(GVariant* body, const char* signature) {
  if (!body) return std::string_view(signature) == "()";
  return g_variant_is_of_type(body, G_VARIANT_TYPE(signature));
}

}  // namespace

std::string_view ProfilesInterfaceXml() { return kXml; }

void AnswerProfilesCall(GDBusConnection* connection, GDBusMessage* call, RegistryStore& store) {
  std::string_view member = g_dbus_message_get_member(call);
  GVariant* body = g_dbus_message_get_body(call);
  const char* expected = member == "List"     ? "()"
                         : member == "Set"    ? "(sa{ss})"
                         : member == "Remove" ? "(s)"
                                              : nullptr;
  if (!expected)
    return SendErrorNamed(connection, call, "org.freedesktop.DBus.Error.UnknownMethod",
                          "No method " + std::string(member) + " on " + kProfilesInterface);
  if (!HasSignature(body, expected))
    return SendErrorNamed(connection, call, kInvalidArgsError,
                          std::string(member) + " takes the arguments " + expected);
  if (member == "List") return List(connection, call, store);
  if (member == "Set") return Set(connection, call, body, store);
  Remove(connection, call, body, store);
}

}  // namespace qz
