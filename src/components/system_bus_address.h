// Decides whether a D-Bus address given with --address is the system bus,
// so that the system bus's rules (the callback host allow-list) hold however
// the server was pointed at it. A bus cannot be asked for its type, so the
// rule compares with the system bus's own address. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// DBUS_SYSTEM_BUS_ADDRESS when set, else the standard system bus address
// "unix:path=/var/run/dbus/system_bus_socket".
std::string SystemBusAddress();

// True when `address` and `system_address` are the same text, or share a
// unix:path= socket that is the same file (so /run and /var/run, a link or
// another spelling of the path count alike), or the same unix:abstract= name.
bool NamesSystemBus(std::string_view address, std::string_view system_address);

}  // namespace qz
