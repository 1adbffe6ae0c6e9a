// An object another program exported on the bus, reached late-bound: every
// method call goes out as a D-Bus call on the callback interface without
// waiting for a reply, so a client that calls back into the server from its
// handler cannot deadlock it. Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <string>

#include "automation/dispatch_object.h"
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz {

class RemoteObject final : public DispatchObject {
 public:
  RemoteObject(GDBusConnection* connection, std::string bus_name, std::string path);
  RemoteObject(const RemoteObject&) = delete;
  RemoteObject& operator=(const RemoteObject&) = delete;

  // Sends `name` with the arguments' wire forms; raises when it cannot be sent.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;
  std::optional<std::pair<std::string, std::string>> BusAddress() const override {
    return std::make_pair(bus_name_, path_);
  }

  const std::string& bus_name() const { return bus_name_; }
  const std::string& path() const { return path_; }

 private:
  ConnectionPtr connection_;
  std::string bus_name_;
  std::string path_;
};

}  // namespace qz
