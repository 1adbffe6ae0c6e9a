// What the bus itself says about a name, asked synchronously: never on the
// GDBus worker thread, which must not wait for the bus.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qz {

// How long a question to the bus may take.
inline constexpr int kBusQuestionTimeoutMs = 10000;

// The unique name that owns `name` now; nothing when nobody does.
std::optional<std::string> NameOwner(GDBusConnection* connection, const std::string& name);
// The Unix user of the connection that owns `name`; nothing when the bus cannot say.
std::optional<uint32_t> NameUser(GDBusConnection* connection, const std::string& name);

}  // namespace qz
