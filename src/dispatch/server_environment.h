// What every object of one server shares: the program folder, the component
// registry, the gateway table, the seat check, the registry store and the
// worker that posts HTTP callbacks, the request journal, how each gateway
// fared lately, the ledger of recent sends, the daemon's part in a fleet. Owned by whoever runs the
// server (the daemon, a test, the demonstration); it outlives every object.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qz {

class CallbackWorker;
class ComponentRegistry;
class GatewayHealth;
struct FleetRole;
struct GatewayTable;
class Metrics;
class RegistryStore;
class JournalStore;
class SeatProbe;
class SendLedger;

struct ServerEnvironment {
  std::string folder;
  ComponentRegistry& components;
  const GatewayTable& gateways;
  SeatProbe& seat;
  RegistryStore* registry = nullptr;    // none: registry operations fail as a missing object
  CallbackWorker* callbacks = nullptr;  // HTTP callbacks under way; a stop waits for them
  JournalStore* journal = nullptr;      // none: accepted requests are kept in memory only
  // Told of what could not be written as usual (a log entry late or
  // dropped, a settings write refused): a line for the daemon's own log.
  std::function<void(std::string_view line)> report = nullptr;
  GatewayHealth* health = nullptr;  // told how each gateway fared; none: nobody keeps count
  Metrics* metrics = nullptr;       // none: nothing is counted
  // What was sent lately, for throttles and duplicates; none: both are off.
  SendLedger* ledger = nullptr;
  // The daemon's part in a fleet sharing `journal`; none: it runs alone.
  const FleetRole* fleet = nullptr;
};

}  // namespace qz
