#include "components/system_bus_address.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/temp_folder.h"

namespace qz {
namespace {

TEST(SystemBusAddress, RecognisesTheSystemBusHoweverItIsSpelled) {
  testing::TempFolder folder;
  std::filesystem::create_directory(folder.File("run"));
  std::filesystem::create_directory_symlink("run", folder.File("var-run"));
  for (const char* name : {"run/system_bus_socket", "run/other_socket"}) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, folder.File(name).c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << name;
    ::close(fd);  // the socket file stays
  }
  const std::string system = "unix:path=" + folder.File("run/system_bus_socket");
  const std::string run = "unix:path=" + folder.File("run/");
  for (const std::string& same :
       {system, system + ",guid=0123456789abcdef0123456789abcdef",
        "unix:path=" + folder.File("var-run/system_bus_socket"), run + "./system_bus_socket",
        "tcp:host=127.0.0.1,port=1;" + system, run + "%73ystem_bus_socket"})
    EXPECT_TRUE(NamesSystemBus(same, system)) << same;
  for (const std::string& other :
       {run + "other_socket", run + "missing", std::string("unix:abstract=/tmp/dbus-x"), {}})
    EXPECT_FALSE(NamesSystemBus(other, system)) << other;
  EXPECT_TRUE(NamesSystemBus("unix:abstract=sys", "unix:abstract=sys,guid=1"));
}

}  // namespace
}  // namespace qz
