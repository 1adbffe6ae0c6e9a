// What the server is doing right now, in one place: version and uptime,
// requests pending and waiting for a retry, the journal's size, how each
// gateway fared lately, the bus it serves on and the limits in force.
// Served as org.qznotes.QzNotes.Status.Status on the factory path, one
// a{sv} so that fields can be added without breaking a caller; read by
// `qznotes status` and by the one-line summary (status_line.h). Gathered
// on the main thread.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/gateway_health.h"
#include "server/limits.h"

namespace qz {

class ObjectCalls;
struct ServerEnvironment;
struct ServerOptions;

// What a fleet of daemons sharing one journal database looks like.
struct FleetDaemonFacts {
  std::string name;
  std::vector<std::string> serves;  // "0", "1", "2", "mail"
  int64_t seen_unix_ms = 0;         // its last sign of life
  bool alive = false;               // seen within a lease
  uint32_t holds = 0;               // tries it holds now
};
struct FleetFacts {
  std::vector<FleetDaemonFacts> daemons;  // by name
  uint32_t unclaimable = 0;               // tries no live daemon serves
};

// Where the facts come from; every reference outlives the server.
struct StatusSources {
  const ServerEnvironment& env;
  const ServerOptions& options;
  const ObjectCalls& objects;
  std::vector<std::string> listeners;  // the bus first ("D-Bus session bus"), then any URL
  GDBusConnection* connection = nullptr;
  int64_t started_unix_ms = 0;
  // In a fleet: asks its database (only for the Status answer); none alone.
  std::function<std::optional<FleetFacts>()> fleet = nullptr;
};

struct StatusFacts {
  std::string version;
  int64_t started_unix_ms = 0;
  int64_t now_unix_ms = 0;
  bool stopping = false;       // a stop was decided
  uint32_t pending = 0;        // accepted, run not ended (retrying ones too)
  uint32_t retrying = 0;       // of those, waiting for a next try
  uint32_t failed = 0;         // given up and kept in the journal
  uint64_t journal_bytes = 0;  // only in the Status answer: it walks the folder
  std::string bus_name;
  std::string unique_name;
  std::vector<std::string> listeners;
  Limits limits;
  std::vector<GatewayReport> gateways;
  std::optional<FleetFacts> fleet;  // only in the Status answer, and in a fleet
};

StatusFacts GatherStatus(const StatusSources& sources);

// The (a{sv}) body of the Status reply.
GVariant* StatusReply(const StatusFacts& facts);

// The interface's introspection XML, indented for the factory's node.
std::string_view StatusInterfaceXml();

// Answers one call on the interface; `call` stays the caller's.
void AnswerStatusCall(GDBusConnection* connection, GDBusMessage* call,
                      const StatusSources& sources);

}  // namespace qz
