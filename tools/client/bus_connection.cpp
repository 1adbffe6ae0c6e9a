#include "client/bus_connection.h"

namespace qz::client {

ConnectionPtr OpenBus(const GlobalOptions& global, ErrorPtr& error) {
  switch (global.bus) {
    case BusKind::kSession:
      return ConnectionPtr(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, ErrorSlot(error)));
    case BusKind::kSystem:
      return ConnectionPtr(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, ErrorSlot(error)));
    case BusKind::kAddress:
      break;
  }
  // A private connection: the address is a message bus (the daemon needs one
  // to own its name), not a peer.
  const auto flags =
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  return ConnectionPtr(g_dbus_connection_new_for_address_sync(global.address.c_str(), flags,
                                                              nullptr, nullptr, ErrorSlot(error)));
}

}  // namespace qz::client
