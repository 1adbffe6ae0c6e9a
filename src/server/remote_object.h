// An object another program exported on the bus, reached late-bound: every
// method call goes out as a D-Bus call on the callback interface without
// waiting for a reply, so a client that calls back into the server from its
// handler cannot deadlock it. A well-known name given with the user its
// owner must be is checked at every call and the call goes to the owner
// that passed the check. Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <string>

#include "automation/dispatch_object.h"
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz {

class RemoteObject final : public DispatchObject {
 public:
  RemoteObject(GDBusConnection* connection, std::string bus_name, std::string path,
               std::optional<uint32_t> owner_uid = std::nullopt);
  RemoteObject(const RemoteObject&) = delete;
  RemoteObject& operator=(const RemoteObject&) = delete;

  // Sends `name` with the arguments' wire forms; raises when it cannot be sent.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;
  std::optional<BusReference> BusAddress() const override {
    return BusReference{bus_name_, path_, owner_uid_};
  }

  const std::string& bus_name() const { return bus_name_; }
  const std::string& path() const { return path_; }

 private:
  // The name to call: with `owner_uid_`, the well-known name's unique owner once its user passed.
  std::string Destination() const;

  ConnectionPtr connection_;
  std::string bus_name_;
  std::string path_;
  std::optional<uint32_t> owner_uid_;
};

}  // namespace qz
