#include "components/system_bus_address.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace qz {
namespace {

void BindSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
  ::close(fd);  // the socket file stays
}

TEST(SystemBusAddress, RecognisesTheSystemBusHoweverItIsSpelled) {
  testing::TempFolder folder;
  std::filesystem::create_directory(folder.File("run"));
  BindSocket(folder.File("run/system_bus_socket"));
  BindSocket(folder.File("run/other_socket"));
  std::filesystem::create_directory_symlink("run", folder.File("var-run"));
  const std::string system = "unix:path=" + folder.File("run/system_bus_socket");
  struct Case {
    std::string address;
    bool system;
    const char* why;
  } cases[] = {
      {system, true, "the same text"},
      {system + ",guid=0123456789abcdef0123456789abcdef", true, "with the bus's guid"},
      {"unix:path=" + folder.File("var-run/system_bus_socket"), true, "through a linked folder"},
      {"unix:path=" + folder.File("run/./system_bus_socket"), true, "another spelling"},
      {"tcp:host=127.0.0.1,port=1;" + system, true, "second of a list"},
      {"unix:path=" + folder.File("run/%73ystem_bus_socket"), true, "escaped"},
      {"unix:path=" + folder.File("run/other_socket"), false, "another bus"},
      {"unix:path=" + folder.File("run/missing"), false, "no such socket"},
      {"unix:abstract=/tmp/dbus-x", false, "an abstract session socket"},
      {"", false, "no --address"},
  };
  for (const Case& c : cases) EXPECT_EQ(NamesSystemBus(c.address, system), c.system) << c.why;
  EXPECT_TRUE(NamesSystemBus("unix:abstract=sys", "unix:abstract=sys,guid=1"));
}

TEST(SystemBusAddress, DefaultsToTheStandardSocket) {
  const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string kept = saved ? saved : "";
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  EXPECT_EQ(SystemBusAddress(), "unix:path=/var/run/dbus/system_bus_socket");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/sys", 1);
  EXPECT_EQ(SystemBusAddress(), "unix:path=/tmp/sys");
  if (saved)
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1);
  else
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace qz
