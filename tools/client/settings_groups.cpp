#include "client/settings_groups.h"

#include <array>

#include "client/quoted_string.h"
#include "client/value_json.h"
#include "client/value_text.h"
#include "client/wire_markers.h"

namespace qz::client {
namespace {

constexpr std::array<std::string_view, 7> kTerminalKeys = {
    "Number", "Settings", "ComPort", "HandShaking", "Echo", "GetNbr", "GetNote"};
constexpr std::array<std::string_view, 3> kGatewayKeys = {"0", "1", "Index"};
constexpr std::array<std::string_view, 3> kSnppKeys = {"TCPPort", "HostName", "Timeout"};
constexpr std::array<std::string_view, 14> kSmsKeys = {
    "Protocol", "IPAddress",   "Connect", "Method",  "Access", "Accept",    "Header",
    "Response", "CountryCode", "SMSTo",   "SMSFrom", "SMSMsg", "SMSOffset", "SMSTrailer"};

const std::array<SettingsGroup, 8> kGroups = {{
    {"terminal-short", "gvarGetSettings", std::nullopt, "Pager Terminal of QzNotes.ini",
     std::span(kTerminalKeys).first(4), false},
    {"terminal", "gvarGetPagerSettings", 0, "Pager Terminal of QzNotes.ini", kTerminalKeys, false},
    {"gateways", "gvarGetPagerSettings", 2, "Gateway and Default of QzNotes.ini", kGatewayKeys,
     false},
    {"sms", "gvarGetPagerSettings", 3, "SMS of QzNotes.ini", kSmsKeys, false},
    {"terminal-ex", "gvarGetPagerSettingsEx", 0, "Pager Terminal of QzPage.ini", kTerminalKeys,
     true},
    {"snpp", "gvarGetPagerSettingsEx", 1, "SNPP Paging Service of QzSNPP.ini", kSnppKeys, true},
    {"gateways-ex", "gvarGetPagerSettingsEx", 2, "Gateway and Default of QzNotes.ini", kGatewayKeys,
     false},
    {"sms-ex", "gvarGetPagerSettingsEx", 3, "SMS of QzSMS.ini", kSmsKeys, true},
}};

// A value prints as it is unless a line break or other control character
// would break the one-line-per-setting layout; then it is quoted.
std::string ValueText(GVariant* element) {
  std::string text = FormatText(element);
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      VariantPtr v = Unwrapped(element);
      if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_STRING))
        return Quoted(g_variant_get_string(v.get(), nullptr));
      break;
    }
  }
  return text;
}

std::optional<Marker> MarkerIn(GVariant* v) {
  if (!g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE)) return std::nullopt;
  return MarkerOfByte(g_variant_get_byte(v));
}

}  // namespace

std::span<const SettingsGroup> AllSettingsGroups() { return kGroups; }

const SettingsGroup* FindSettingsGroup(std::string_view name) {
  for (const auto& g : kGroups) {
    if (g.name == name) return &g;
  }
  return nullptr;
}

std::vector<std::string> SettingsLines(const SettingsGroup& group, GVariant* answer) {
  VariantPtr v = Unwrapped(answer);
  if (auto m = MarkerIn(v.get())) {
    if (*m == Marker::kEmpty) return {"(no settings file)"};
    if (*m == Marker::kNoDimensions) return {"(not served)"};
  }
  if (!g_variant_is_of_type(v.get(), G_VARIANT_TYPE_ARRAY)) return {FormatText(v.get())};
  std::vector<std::string> lines;
  const gsize n = g_variant_n_children(v.get());
  for (gsize k = 0; k < n; ++k) {
    VariantPtr element(g_variant_get_child_value(v.get(), k));
    std::string text = ValueText(element.get());
    if (group.key_value_form) {
      lines.push_back(std::move(text));
    } else if (k < group.keys.size()) {
      lines.push_back(std::string(group.keys[k]) + "=" + text);
    } else {
      lines.push_back("[" + std::to_string(k) + "]=" + text);  // more elements than keys
    }
  }
  return lines;
}

std::string SettingsJson(const SettingsGroup& group, GVariant* answer) {
  VariantPtr v = Unwrapped(answer);
  if (!v || !g_variant_is_of_type(v.get(), G_VARIANT_TYPE_ARRAY)) return FormatJson(answer);
  std::string json = "{";
  const gsize n = g_variant_n_children(v.get());
  for (gsize k = 0; k < n; ++k) {
    VariantPtr element(g_variant_get_child_value(v.get(), k));
    std::string key =
        k < group.keys.size() ? std::string(group.keys[k]) : "[" + std::to_string(k) + "]";
    std::string value_json = FormatJson(element.get());
    VariantPtr text = Unwrapped(element.get());
    if (group.key_value_form && text && g_variant_is_of_type(text.get(), G_VARIANT_TYPE_STRING)) {
      // "KEY=VALUE" elements name themselves.
      const std::string_view whole = g_variant_get_string(text.get(), nullptr);
      const size_t eq = whole.find('=');
      if (eq != std::string_view::npos) {
        key = whole.substr(0, eq);
        value_json = Quoted(whole.substr(eq + 1));
      }
    }
    json += (k ? "," : "") + Quoted(key) + ":" + value_json;
  }
  return json + "}";
}

}  // namespace qz::client
