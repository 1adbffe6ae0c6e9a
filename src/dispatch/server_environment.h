// What every object of one server shares: the program folder, the component
// registry, the channel set and the seat check. Owned by whoever runs the
// server (the daemon, a test, the demonstration); it outlives every object.
#pragma once

#include <string>

namespace qz {

class ComponentRegistry;
class DeliveryChannels;
class SeatProbe;

struct ServerEnvironment {
  std::string folder;
  ComponentRegistry& components;
  DeliveryChannels& channels;
  SeatProbe& seat;
};

}  // namespace qz
