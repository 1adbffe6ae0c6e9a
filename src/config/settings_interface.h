// The settings operations of cNotify, as free functions of the program
// folder: clients read and change the pager-terminal, gateway, SNPP and SMS
// settings, and the dispatch run learns its default gateway. Every call reads
// the files afresh and keeps no state, so any thread may call them.
// Errors are raised again with the operation's own name as the source.
#pragma once

#include <cstdint>
#include <string_view>

#include "automation/variant.h"
#include "platform/status.h"

namespace qz {

// Empty when QzNotes.ini is missing, else the four short pager-terminal values.
Variant gvarGetSettings(std::string_view folder);

// Writes elements 0 to 3 of `lvarSettings` as the short pager-terminal values
// of QzNotes.ini. False when it is no array, the file is missing or a write
// is refused (then `why`, when given, says why); 9 for fewer than four
// elements (after the earlier writes).
bool gblnSetSettings(std::string_view folder, const Variant& lvarSettings, Status* why = nullptr);

// Request 0 pager terminal, 2 gateways, 3 SMS, all values from QzNotes.ini;
// Empty when that file is missing; an array with no dimensions otherwise.
Variant gvarGetPagerSettings(std::string_view folder, int16_t Request);

// Request 0 QzPage.ini, 1 QzSNPP.ini, 3 QzSMS.ini as "key=value" texts,
// 2 the gateways as values; Empty when the group's file is missing; an array
// with no dimensions for any other code, touching no file. The optional
// lvarParams of the boundary is never read or changed, so it is not passed.
Variant gvarGetPagerSettingsEx(std::string_view folder, int16_t Request);

// Has no defined effect: writes nothing and answers false.
bool gblnSetPagerSettings(std::string_view folder, int16_t lintSection,
                          const Variant& lvarSettings);

// Writes every "key=value" element into `lstrSection` of the file that the
// section's "path" in QzNotes.ini names (QzNotes.ini itself for "Default").
// Everything after the first "=" is the value, so the texts that
// gvarGetPagerSettingsEx answers write back unchanged. False when it is no
// array, the target is missing or outside the program folder, or a write is
// refused (`why` as for gblnSetSettings); 9 for an element without "=" or a
// lower bound above 0, 94 for Null, 6 for an upper bound beyond 16 bits.
bool gblnSetPagerSettingsEx(std::string_view folder, std::string_view lstrSection,
                            const Variant& lvarSettings, Status* why = nullptr);

// "Index" of "Default" in QzNotes.ini as a string; Empty when the file is
// missing. Raises with the source "cNotify: mvarGetDefaultGateway".
Variant mvarGetDefaultGateway(std::string_view folder);

}  // namespace qz
