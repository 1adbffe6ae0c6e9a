#include "http/alert_template.h"

#include <algorithm>
#include <optional>

#include "platform/trim.h"

namespace qz {
namespace {

bool IsAlertKeyName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

const std::string* FindAlertKey(const AlertLabels& labels, std::string_view name) {
  const auto it = labels.find(name);
  return it == labels.end() ? nullptr : &it->second;
}

// The value of `field` (the text between the braces, trimmed), "" for a
// known field without a value, nullopt for anything else.
std::optional<std::string_view> AlertFieldValue(std::string_view field,
                                                const AlertmanagerPayload& payload,
                                                const AlertmanagerAlert* alert) {
  static const AlertmanagerAlert kNoAlert;
  const AlertmanagerAlert& own = alert ? *alert : kNoAlert;
  struct Plain {
    std::string_view name;
    const std::string& value;
  };
  const Plain plain[] = {
      {".Status", alert ? own.status : payload.status},
      {".Receiver", payload.receiver},
      {".ExternalURL", payload.external_url},
      {".GroupKey", payload.group_key},
      {".StartsAt", own.starts_at},
      {".EndsAt", own.ends_at},
      {".GeneratorURL", own.generator_url},
      {".Fingerprint", own.fingerprint},
  };
  for (const Plain& p : plain)
    if (field == p.name) return p.value;
  struct Keyed {
    std::string_view prefix;
    const AlertLabels& labels;
  };
  const Keyed keyed[] = {
      {".GroupLabels.", payload.group_labels},
      {".CommonLabels.", payload.common_labels},
      {".CommonAnnotations.", payload.common_annotations},
      {".Labels.", own.labels},
      {".Annotations.", own.annotations},
  };
  for (const Keyed& k : keyed) {
    if (!field.starts_with(k.prefix)) continue;
    const std::string_view name = field.substr(k.prefix.size());
    if (!IsAlertKeyName(name)) return std::nullopt;
    const std::string* value = FindAlertKey(k.labels, name);
    return value ? std::string_view(*value) : std::string_view();
  }
  return std::nullopt;
}

// Drops a multi-byte character that the size bound cut in two.
void DropCutCharacter(std::string& text) {
  size_t lead = text.size();
  for (size_t back = 0; back < 3 && lead > 0; ++back) {
    const auto byte = static_cast<unsigned char>(text[lead - 1]);
    if ((byte & 0xC0) != 0x80) break;
    --lead;
  }
  if (lead == 0) return;
  const auto byte = static_cast<unsigned char>(text[lead - 1]);
  const size_t need = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
  if (text.size() - (lead - 1) < need) text.resize(lead - 1);
}

}  // namespace

std::string RenderAlertTemplate(std::string_view text, const AlertmanagerPayload& payload,
                                const AlertmanagerAlert* alert) {
  std::string out;
  auto append = [&out](std::string_view piece) {
    out.append(piece.substr(0, kMaxRenderedAlertText - out.size()));
    return out.size() < kMaxRenderedAlertText;
  };
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find("{{", pos);
    const size_t close = open == std::string_view::npos ? open : text.find("}}", open + 2);
    if (close == std::string_view::npos) {
      append(text.substr(pos));
      break;
    }
    const std::optional<std::string_view> value =
        AlertFieldValue(TrimBlanks(text.substr(open + 2, close - open - 2)), payload, alert);
    if (!append(text.substr(pos, open - pos)) ||
        !append(value ? *value : text.substr(open, close + 2 - open)))
      break;
    pos = close + 2;
  }
  if (out.size() >= kMaxRenderedAlertText) DropCutCharacter(out);
  return out;
}

}  // namespace qz
