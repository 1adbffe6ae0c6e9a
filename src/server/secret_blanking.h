// What an outsider on the system bus may read of the settings: the same
// answers with every secret-bearing value blanked (the SMS gateway's extra
// header lines and trailer, any Password, the user and password of a URL).
// Applied by the boundary to the answers of the settings reads. Pure; safe
// from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "automation/variant.h"
#include "config/settings_groups.h"

namespace qz {

// `text` with the user-info part of every URL in it removed
// ("smtp://user:pw@host" is "smtp://host").
std::string WithoutUrlCredentials(std::string_view text);

// The value of `key` as an outsider may read it: empty for a key that holds
// a secret, otherwise without URL credentials.
std::string BlankedValue(std::string_view key, std::string_view value);

// A settings read's answer as an outsider may read it. Element i of an
// array is the value of keys[i], or "key=value" naming its own key; an
// element beyond `keys`, or any text that is no array, is only freed of URL
// credentials. Anything else is answered as it is.
Variant BlankedSettings(const Variant& answer, std::span<const SettingKey> keys);

// The keys, in order, of what gvarGetPagerSettings and gvarGetPagerSettingsEx
// answer for `Request` (none for a code that answers no group).
std::span<const SettingKey> PagerSettingsKeys(int16_t Request);

}  // namespace qz
