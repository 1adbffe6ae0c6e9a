#include "components/system_bus_address.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

namespace qz {
namespace {

struct Socket {
  std::string path;      // unix:path=
  std::string abstract;  // unix:abstract=
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// D-Bus addresses escape values as %XX.
std::string Unescaped(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 &&
        HexValue(value[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// The unix sockets of an address list "unix:path=...,guid=...;tcp:...".
std::vector<Socket> UnixSockets(std::string_view address) {
  std::vector<Socket> sockets;
  while (!address.empty()) {
    const size_t end = std::min(address.find(';'), address.size());
    std::string_view entry = address.substr(0, end);
    address.remove_prefix(std::min(end + 1, address.size()));
    if (!entry.starts_with("unix:")) continue;
    entry.remove_prefix(5);
    Socket socket;
    while (!entry.empty()) {
      const size_t comma = std::min(entry.find(','), entry.size());
      std::string_view pair = entry.substr(0, comma);
      entry.remove_prefix(std::min(comma + 1, entry.size()));
      if (pair.starts_with("path=")) socket.path = Unescaped(pair.substr(5));
      if (pair.starts_with("abstract=")) socket.abstract = Unescaped(pair.substr(9));
    }
    sockets.push_back(std::move(socket));
  }
  return sockets;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

std::string SystemBusAddress() {
  const char* set = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  return set && *set ? set : "unix:path=/var/run/dbus/system_bus_socket";
}

bool NamesSystemBus(std::string_view address, std::string_view system_address) {
  if (address.empty()) return false;
  if (address == system_address) return true;
  for (const Socket& mine : UnixSockets(address)) {
    for (const Socket& system : UnixSockets(system_address)) {
      if (!mine.abstract.empty() && mine.abstract == system.abstract) return true;
      if (!mine.path.empty() && !system.path.empty() &&
          (mine.path == system.path || SameFile(mine.path, system.path)))
        return true;
    }
  }
  return false;
}

}  // namespace qz
