#include "server/secret_blanking.h"

#include <array>
#include <vector>

#include "automation/names.h"

namespace qz {
namespace {

// Keys whose whole value is a secret: the SMS gateway's header lines carry
// tokens ("Authorization: Bearer ...") and its trailer the gateway's login.
constexpr std::array<std::string_view, 3> kSecretKeys = {"Header", "SMSTrailer", "Password"};

bool IsSecretKey(std::string_view key) {
  for (std::string_view secret : kSecretKeys)
    if (AsciiCaseEqual(key, secret)) return true;
  return false;
}

// Where the URL whose authority begins at `start` ends. Its user-info runs
// to the last "@" before that: a careless password may hold "/" or "?" too.
size_t UrlEnd(std::string_view text, size_t start) {
  size_t end = text.find_first_of(" \t\r\n", start);
  return end == std::string_view::npos ? text.size() : end;
}

std::string BlankedElement(const Variant& element, const SettingKey* key) {
  std::string text = element.Text();
  if (key) {
    const std::string prefix = std::string(key->key) + "=";
    if (text.size() >= prefix.size() && AsciiCaseEqual(text.substr(0, prefix.size()), prefix))
      return text.substr(0, prefix.size()) +
             BlankedValue(key->key, std::string_view(text).substr(prefix.size()));
    return BlankedValue(key->key, text);
  }
  return WithoutUrlCredentials(text);
}

}  // namespace

std::string WithoutUrlCredentials(std::string_view text) {
  std::string out;
  size_t pos = 0;
  for (size_t found; (found = text.find("://", pos)) != std::string_view::npos;) {
    const size_t start = found + 3;
    const size_t end = UrlEnd(text, start);
    const size_t at = text.substr(start, end - start).rfind('@');
    out.append(text.substr(pos, start - pos));
    pos = at == std::string_view::npos ? start : start + at + 1;
  }
  out.append(text.substr(pos));
  return out;
}

std::string BlankedValue(std::string_view key, std::string_view value) {
  return IsSecretKey(key) ? std::string() : WithoutUrlCredentials(value);
}

Variant BlankedSettings(const Variant& answer, std::span<const SettingKey> keys) {
  if (answer.IsString()) return Variant(WithoutUrlCredentials(answer.Text()));
  if (answer.kind() != Variant::Kind::Array) return answer;
  std::vector<Variant> items;
  items.reserve(answer.Items().size());
  for (size_t i = 0; i < answer.Items().size(); ++i) {
    const Variant& element = answer.Items()[i];
    items.push_back(element.IsString()
                        ? Variant(BlankedElement(element, i < keys.size() ? &keys[i] : nullptr))
                        : element);
  }
  return Variant::Array(std::move(items), answer.LBound());
}

std::span<const SettingKey> PagerSettingsKeys(int16_t Request) {
  switch (Request) {
    case 0:
      return kPagerTerminalGroup;
    case 1:
      return kSnppGroup;
    case 2:
      return kGatewaysGroup;
    case 3:
      return kSmsGroup;
    default:
      return {};
  }
}

}  // namespace qz
