// The gateways a server knows, one row each: the paging gateways by the
// number [Default] Index of QzNotes.ini names, and the two mail routes. The
// dispatch run, the gateway test, the run's trace, the daemon and the client
// read it; adding a gateway is one folder under src/gateways/ and one row of
// BuiltInGateways. Composed before the server starts and only read while it
// serves, so any thread may read it then.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "gateways/delivery_channels.h"

namespace qz {

// Registers the components a gateway's channel creates.
using ComponentSetup = std::function<void(ComponentRegistry& registry, std::string_view folder)>;

struct PagingGateway {
  int16_t number = 0;
  std::string name = {};         // "SNPP": the trace and the client's advice
  std::string description = {};  // "the SNPP server": the client's help
  // Runs before every page through this gateway and can stop it; none: the
  // page goes at once. When it fails the trace says "loading <name>
  // settings" and the gateway test answers "Failed to initialize <name>
  // Settings".
  InitialiseStep initialise = {};
  Channel channel = {};
  // The channel leaves the server's reply in mstrSNPPStatus, which the
  // gateway test answers: a three-digit reply code can mean success.
  bool test_answers_reply = false;
  ComponentSetup components = {};
};

struct MailRoute {
  std::string name = {};  // "SMTP", "profile": the trace
  Channel channel = {};
  ComponentSetup components = {};
};

struct GatewayTable {
  // Compared in this order with the configured number; the first that
  // equals it pages.
  std::vector<PagingGateway> paging;
  MailRoute smtp;
  MailRoute profile;  // the request names a messaging profile
  // The configured gateway number; raises when it cannot be read.
  std::function<Variant(const ChannelCall& call)> read_gateway;

  // The first paging gateway numbered `number`, or none.
  const PagingGateway* Find(double number) const;
  // Registers every row's components for the server of `folder`.
  void RegisterComponents(ComponentRegistry& registry, std::string_view folder) const;
};

// The gateways this server is built with: 0 the pager terminal, 1 SNPP,
// 2 the SMS web gateway; mail by SMTP or by profile.
GatewayTable BuiltInGateways();

}  // namespace qz
