#include "client/call_failure.h"
#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_object.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

// A refusal by the server (bad name, transport or store) is its answer, not
// a bus failure: exit 1 with its message.
ExitStatus Refused(const GError* error, const GlobalOptions& global, Console console) {
  CallFailure failure = DescribeFailure(error);
  if (!g_dbus_error_is_remote_error(error) || failure.raised_by_server ||
      StartHint(error, global) != "")
    return ReportFailure(error, global, console);
  ReportProblem(console, global.json, "refused", failure.message);
  return kExitFailed;
}

VariantPtr Call(GDBusConnection* connection, const GlobalOptions& global, std::string_view method,
                GVariant* parameters, ErrorPtr& error) {
  return CallMethod(connection, global.destination, kFactoryPath, kProfilesInterface, method,
                    parameters, error);
}

ExitStatus List(GDBusConnection* connection, const GlobalOptions& global, Console console) {
  ErrorPtr error;
  VariantPtr reply = Call(connection, global, "List", nullptr, error);
  if (!reply) return Refused(error.get(), global, console);
  if (!g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(as)"))) {
    ReportProblem(console, global.json, "answer",
                  std::string("List answered ") + g_variant_get_type_string(reply.get()));
    return kExitUsage;
  }
  GVariantIter* raw_names = nullptr;
  g_variant_get(reply.get(), "(as)", &raw_names);
  VariantIterPtr names(raw_names);
  const char* name = nullptr;
  std::string json;
  while (g_variant_iter_next(names.get(), "&s", &name)) {
    if (global.json)
      json += (json.empty() ? "" : ",") + Quoted(name);
    else
      console.out << name << '\n';
  }
  if (global.json) console.out << '[' << json << "]\n";
  return kExitOk;
}

}  // namespace

ExitStatus RunProfiles(GDBusConnection* connection, const GlobalOptions& global,
                       const ProfilesCommand& profiles, Console console) {
  ErrorPtr error;
  VariantPtr reply;
  switch (profiles.action) {
    case ProfilesCommand::Action::kList:
      return List(connection, global, console);
    case ProfilesCommand::Action::kSet: {
      GVariantBuilder values;
      g_variant_builder_init(&values, G_VARIANT_TYPE("a{ss}"));
      g_variant_builder_add(&values, "{ss}", "Transport", profiles.transport.c_str());
      if (!profiles.from.empty())
        g_variant_builder_add(&values, "{ss}", "From", profiles.from.c_str());
      reply = Call(connection, global, "Set",
                   g_variant_new("(sa{ss})", profiles.name.c_str(), &values), error);
      break;
    }
    case ProfilesCommand::Action::kRemove:
      reply =
          Call(connection, global, "Remove", g_variant_new("(s)", profiles.name.c_str()), error);
      break;
  }
  if (!reply) return Refused(error.get(), global, console);
  return kExitOk;
}

}  // namespace qz::client
