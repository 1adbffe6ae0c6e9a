#include "server/dispatch_slots.h"

#include <string_view>
#include <vector>

#include "automation/names.h"
#include "server/call_arguments.h"
#include "server/replies.h"
#include "server/type_library.h"

namespace qz {
namespace {}  // namespace

void AnswerDispatchSlot(GDBusConnection* connection, GDBusMessage* call, const ObjectEntry& entry,
                        ObjectTable& table, CallAdmission& admission,
                        const std::function<void(std::shared_ptr<ObjectEntry>)>& destroy) {
  const ClassDescription& description = *entry.description;
  std::string_view member = g_dbus_message_get_member(call);
  GVariant* body = g_dbus_message_get_body(call);
  try {
    if (member == "QueryInterface") {
      RequireSignature(call, "(s)");
      const char* name = nullptr;
      g_variant_get(body, "(&s)", &name);
      std::string_view n(name);
      bool known = description.HasInterface(n) || n == kDispatchInterface || n == kIntrospectable ||
                   n == kPeer;
      SendReply(connection, call, g_variant_new("(b)", known));
    } else if (member == "AddRef") {
      RequireSignature(call, "()");
      const auto max = static_cast<uint32_t>(admission.limits().references);
      const ObjectTable::Counted counted = table.AddRef(entry.path, max);
      if (counted.refused) return admission.RefuseOverLimit(call, Limit::kReferences);
      SendReply(connection, call, g_variant_new("(u)", counted.count.value_or(0)));
    } else if (member == "Release") {
      RequireSignature(call, "()");
      auto released = table.Release(entry.path);
      SendReply(connection, call, g_variant_new("(u)", released ? released->first : 0u));
      if (released && released->second) destroy(released->second);
    } else if (member == "GetTypeInfoCount") {
      RequireSignature(call, "()");
      SendReply(connection, call, g_variant_new("(u)", 1u));
    } else if (member == "GetTypeInfo") {
      RequireSignature(call, "()");
      SendReply(connection, call, g_variant_new("(s)", ObjectXml(description).c_str()));
    } else if (member == "GetIDsOfNames") {
      RequireSignature(call, "(as)");
      GVariantIter* raw_names = nullptr;
      g_variant_get(body, "(as)", &raw_names);
      VariantIterPtr names(raw_names);
      std::vector<int32_t> ids;
      const Operation* op = nullptr;
      const char* name = nullptr;
      bool known = true;
      while (known && g_variant_iter_next(names.get(), "&s", &name)) {
        if (!op) {
          op = description.FindByName(name);
          known = op != nullptr;
          if (known) ids.push_back(op->dispid);
          continue;
        }
        known = false;
        for (size_t i = 0; i < op->params.size() && !known; ++i)
          if (AsciiCaseEqual(op->params[i].name, name)) {
            ids.push_back(static_cast<int32_t>(i));
            known = true;
          }
      }
      if (!known || !op) throw RunTimeError(kErrNoSuchMember, kBoundarySource);
      GVariant* array =
          g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, ids.data(), ids.size(), sizeof(int32_t));
      SendReply(connection, call, g_variant_new_tuple(&array, 1));
    } else {
      throw RunTimeError(kErrNoSuchMember, kBoundarySource);
    }
  } catch (const RunTimeError& e) {
    SendError(connection, call, e);
  }
}

}  // namespace qz
