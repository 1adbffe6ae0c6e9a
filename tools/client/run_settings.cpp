#include "client/call_failure.h"
#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_object.h"
#include "client/settings_groups.h"
#include "client/value_json.h"
#include "client/wire_markers.h"

namespace qz::client {
namespace {

// The read operation's result; the Ex operation also hands back its
// by-reference lvarParams, which is sent as Missing and not looked at.
VariantPtr ReadGroup(const ServerObject& object, const SettingsGroup& group, ErrorPtr& error) {
  GVariant* parameters = nullptr;
  if (group.operation == "gvarGetPagerSettings") {
    parameters = g_variant_new("(n)", *group.request);
  } else if (group.operation == "gvarGetPagerSettingsEx") {
    parameters = g_variant_new("(n@v)", *group.request, NewMarker(Marker::kMissing));
  }
  VariantPtr reply = object.Call(kNotifyInterface, group.operation, parameters, error);
  if (!reply) return nullptr;
  return VariantPtr(g_variant_get_child_value(reply.get(), 0));
}

std::string Heading(const SettingsGroup& group) {
  std::string heading = std::string(group.name) + ": " + std::string(group.operation);
  if (group.request) heading += " " + std::to_string(*group.request);
  return heading + ", " + std::string(group.where);
}

ExitStatus Show(const ServerObject& object, bool json, Console console) {
  ExitStatus status = kExitOk;
  std::string json_line;
  bool first = true;
  for (const SettingsGroup& group : AllSettingsGroups()) {
    ErrorPtr error;
    VariantPtr answer = ReadGroup(object, group, error);
    std::string entry;
    if (!answer) {
      const CallFailure failure = DescribeFailure(error.get());
      if (!failure.raised_by_server) return ReportFailure(error.get(), console);
      status = kExitFailed;  // one group's error does not hide the others
      if (json) {
        entry = "{\"error\":{\"code\":" + Quoted(failure.code) +
                ",\"message\":" + Quoted(failure.message) + "}}";
      } else {
        console.out << (first ? "" : "\n") << Heading(group) << "\n  " << FailureLine(failure)
                    << '\n';
      }
    } else if (json) {
      entry = FormatJson(answer.get());
    } else {
      console.out << (first ? "" : "\n") << Heading(group) << '\n';
      for (const auto& line : SettingsLines(group, answer.get()))
        console.out << "  " << line << '\n';
    }
    if (json) json_line += (first ? "{" : ",") + Quoted(group.name) + ":" + entry;
    first = false;
  }
  if (json) console.out << json_line << "}\n";
  return status;
}

ExitStatus Get(const ServerObject& object, const SettingsGroup& group, bool json, Console console) {
  ErrorPtr error;
  VariantPtr answer = ReadGroup(object, group, error);
  if (!answer) return ReportFailure(error.get(), console);
  if (json) {
    console.out << FormatJson(answer.get()) << '\n';
  } else {
    for (const auto& line : SettingsLines(group, answer.get())) console.out << line << '\n';
  }
  return kExitOk;
}

ExitStatus Set(const ServerObject& object, const SettingsCommand& settings, Console console) {
  GVariantBuilder elements;
  g_variant_builder_init(&elements, G_VARIANT_TYPE("av"));
  for (const auto& assignment : settings.assignments)
    g_variant_builder_add(&elements, "v", g_variant_new_string(assignment.c_str()));
  ErrorPtr error;
  VariantPtr reply = object.Call(
      kNotifyInterface, "gblnSetPagerSettingsEx",
      g_variant_new("(sv)", settings.section.c_str(), g_variant_builder_end(&elements)), error);
  if (!reply) return ReportFailure(error.get(), console);
  VariantPtr result(g_variant_get_child_value(reply.get(), 0));
  const ExitStatus status = ExitForBoolean(result.get());
  if (status == kExitUsage) {
    console.err << "qznotes: gblnSetPagerSettingsEx answered no Boolean\n";
  } else {
    console.out << (status == kExitOk ? "true" : "false") << '\n';  // the same in JSON
  }
  return status;
}

}  // namespace

ExitStatus RunSettings(GDBusConnection* connection, const GlobalOptions& global,
                       const SettingsCommand& settings, Console console) {
  ServerObject object(connection, global.destination);
  ErrorPtr error;
  if (!object.Create("cNotify", error)) return ReportFailure(error.get(), console);
  switch (settings.action) {
    case SettingsCommand::Action::kShow:
      return Show(object, global.json, console);
    case SettingsCommand::Action::kGet:
      if (const SettingsGroup* group = FindSettingsGroup(settings.group))
        return Get(object, *group, global.json, console);
      console.err << "qznotes: no settings group " << settings.group << '\n';
      return kExitUsage;
    case SettingsCommand::Action::kSet:
      return Set(object, settings, console);
  }
  return kExitUsage;
}

}  // namespace qz::client
