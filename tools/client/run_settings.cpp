#include <algorithm>
#include <array>
#include <span>

#include "client/call_failure.h"
#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_object.h"
#include "client/settings_advice.h"
#include "client/settings_groups.h"
#include "client/value_json.h"
#include "client/wire_markers.h"
#include "config/settings_groups.h"

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

ExitStatus Show(const ServerObject& object, const GlobalOptions& global, Console console) {
  const bool json = global.json;
  ExitStatus status = kExitOk;
  std::string json_line;
  bool first = true;
  for (const SettingsGroup& group : AllSettingsGroups()) {
    ErrorPtr error;
    VariantPtr answer = ReadGroup(object, group, error);
    std::string entry;
    if (!answer) {
      const CallFailure failure = DescribeFailure(error.get());
      if (!failure.raised_by_server) return ReportFailure(error.get(), global, console);
      status = kExitFailed;  // one group's error does not hide the others
      if (json) {
        entry = "{\"error\":{\"kind\":\"server\",\"code\":" + Quoted(failure.code) +
                ",\"message\":" + Quoted(failure.message) + "}}";
      } else {
        console.out << (first ? "" : "\n") << Heading(group) << "\n  " << FailureLine(failure)
                    << '\n';
      }
    } else if (json) {
      entry = SettingsJson(group, answer.get());
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

ExitStatus Get(const ServerObject& object, const SettingsGroup& group, const GlobalOptions& global,
               Console console) {
  ErrorPtr error;
  VariantPtr answer = ReadGroup(object, group, error);
  if (!answer) return ReportFailure(error.get(), global, console);
  if (global.json) {
    console.out << SettingsJson(group, answer.get()) << '\n';
  } else {
    for (const auto& line : SettingsLines(group, answer.get())) console.out << line << '\n';
  }
  return kExitOk;
}

bool IsEmptyAnswer(const ServerObject& object, const char* operation, int16_t request) {
  ErrorPtr error;
  GVariant* parameters = std::string_view(operation) == "gvarGetPagerSettingsEx"
                             ? g_variant_new("(n@v)", request, NewMarker(Marker::kMissing))
                             : g_variant_new("(n)", request);
  VariantPtr reply = object.Call(kNotifyInterface, operation, parameters, error);
  if (!reply) return false;
  VariantPtr answer(g_variant_get_child_value(reply.get(), 0));
  VariantPtr v = Unwrapped(answer.get());
  return v && g_variant_is_of_type(v.get(), G_VARIANT_TYPE_BYTE) &&
         MarkerOfByte(g_variant_get_byte(v.get())) == Marker::kEmpty;
}

// Why gblnSetPagerSettingsEx answered false, as far as the reads show: the
// server writes only into files that exist, found through QzNotes.ini.
std::string WhyFalse(const ServerObject& object, const std::string& section) {
  if (IsEmptyAnswer(object, "gvarGetPagerSettings", 2))
    return "the server's program folder has no QzNotes.ini, and the server never creates "
           "a settings file";
  if (section == kDefaultSection || IsPagerTerminalSection(section))
    return "QzNotes.ini could not be written (read-only, or not a regular file)";
  const std::string path_key = "the \"path\" key of [" + section + "] in QzNotes.ini";
  if (const auto file = FileOfSection(section);
      file && IsEmptyAnswer(object, "gvarGetPagerSettingsEx", file->request))
    return std::string(file->file) + ", where [" + section +
           "] is kept, is not in the server's program folder (the server never creates a "
           "settings file), or " +
           path_key + " names another file that is not there";
  return path_key + " is missing or empty or names a file that is not in the server's " +
         "program folder (the server never creates one), or that file could not be written";
}

// The short group as the server holds it, with `assignments` laid over it;
// nullopt (and `refusal` set) for a key outside the group. Empty strings
// when QzNotes.ini is missing: the write then answers false.
std::optional<std::array<std::string, kShortPagerTerminalKeys>> ShortTerminalValues(
    const ServerObject& object, std::span<const std::string> assignments, std::string& refusal,
    ErrorPtr& error) {
  std::array<std::string, kShortPagerTerminalKeys> values;
  std::vector<std::pair<size_t, std::string>> changes;
  for (const std::string& assignment : assignments) {
    const size_t eq = assignment.find('=');
    const std::string key = assignment.substr(0, eq);
    const std::optional<size_t> k = ShortTerminalKey(key);
    if (!k) {
      refusal =
          "the pager terminal reads [Pager Terminal] of QzNotes.ini, where the server "
          "writes only " +
          ShortTerminalKeyNames() + "; set " + key + " in that file itself";
      return std::nullopt;
    }
    changes.emplace_back(*k, eq == std::string::npos ? "" : assignment.substr(eq + 1));
  }
  VariantPtr reply = object.Call(kNotifyInterface, "gvarGetSettings", nullptr, error);
  if (!reply) return std::nullopt;
  VariantPtr answer(g_variant_get_child_value(reply.get(), 0));
  VariantPtr current = Unwrapped(answer.get());
  if (current && g_variant_is_of_type(current.get(), G_VARIANT_TYPE_ARRAY)) {
    const gsize n = std::min<gsize>(g_variant_n_children(current.get()), values.size());
    for (gsize k = 0; k < n; ++k) {
      VariantPtr element(g_variant_get_child_value(current.get(), k));
      VariantPtr value = Unwrapped(element.get());
      if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING))
        values[k] = g_variant_get_string(value.get(), nullptr);
    }
  }
  for (auto& [k, value] : changes) values[k] = std::move(value);
  return values;
}

// gblnSetSettings with the short group, or the Ex write of one section.
VariantPtr Write(const ServerObject& object, const SettingsCommand& settings, std::string& refusal,
                 ErrorPtr& error) {
  GVariantBuilder elements;
  g_variant_builder_init(&elements, G_VARIANT_TYPE("av"));
  if (!IsPagerTerminalSection(settings.section)) {
    for (const auto& assignment : settings.assignments)
      g_variant_builder_add(&elements, "v", g_variant_new_string(assignment.c_str()));
    return object.Call(
        kNotifyInterface, "gblnSetPagerSettingsEx",
        g_variant_new("(sv)", settings.section.c_str(), g_variant_builder_end(&elements)), error);
  }
  const auto values = ShortTerminalValues(object, settings.assignments, refusal, error);
  if (!values) {
    g_variant_builder_clear(&elements);
    return nullptr;
  }
  for (const std::string& value : *values)
    g_variant_builder_add(&elements, "v", g_variant_new_string(value.c_str()));
  return object.Call(kNotifyInterface, "gblnSetSettings",
                     g_variant_new("(v)", g_variant_builder_end(&elements)), error);
}

ExitStatus Set(const ServerObject& object, const GlobalOptions& global,
               const SettingsCommand& settings, Console console) {
  const std::vector<std::string> warnings =
      SettingsWarnings(settings.section, settings.assignments);
  for (const std::string& w : warnings) ReportWarning(console, global.json, w);
  if (!warnings.empty() && !settings.force) {
    // Not written is what a false answer means too: the same output and status.
    console.out << "false\n";
    ReportProblem(console, global.json, "not-written",
                  "nothing written (settings set --force writes anyway)");
    return kExitFailed;
  }
  ErrorPtr error;
  std::string refusal;
  VariantPtr reply = Write(object, settings, refusal, error);
  if (!refusal.empty()) {
    console.out << "false\n";
    ReportProblem(console, global.json, "not-written", "not written: " + refusal);
    return kExitFailed;
  }
  if (!reply) return ReportFailure(error.get(), global, console);
  VariantPtr result(g_variant_get_child_value(reply.get(), 0));
  const ExitStatus status = ExitForBoolean(result.get());
  if (status == kExitUsage) {
    ReportProblem(console, global.json, "answer", "the settings write answered no Boolean");
    return status;
  }
  console.out << (status == kExitOk ? "true" : "false") << '\n';  // the same in JSON
  if (status == kExitFailed)
    ReportProblem(console, global.json, "false",
                  "not written: " + WhyFalse(object, settings.section));
  return status;
}

}  // namespace

ExitStatus RunSettings(GDBusConnection* connection, const GlobalOptions& global,
                       const SettingsCommand& settings, Console console) {
  ServerObject object(connection, global.destination);
  ErrorPtr error;
  if (!object.Create("cNotify", error)) return ReportFailure(error.get(), global, console);
  switch (settings.action) {
    case SettingsCommand::Action::kShow:
      return Show(object, global, console);
    case SettingsCommand::Action::kGet:
      if (const SettingsGroup* group = FindSettingsGroup(settings.group))
        return Get(object, *group, global, console);
      ReportUsage(console, global.json, "no settings group " + settings.group);
      return kExitUsage;
    case SettingsCommand::Action::kSet:
      return Set(object, global, settings, console);
  }
  return kExitUsage;
}

}  // namespace qz::client
