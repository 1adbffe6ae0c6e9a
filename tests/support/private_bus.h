// A private dbus-daemon for one test: started in a scratch folder of its own
// with a configuration that lets anyone own any name, stopped and reaped by
// the destructor. Optional service folders allow bus activation tests. A
// system-type bus (SystemType) instead has the system bus's default policy
// and the given policy files, and lets every Unix user connect.
// Use from one thread; connections it hands out are safe from any thread.
#pragma once

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qz::testing {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref>;

// A bus configured as the system bus is: anyone may connect, nobody may own
// a name or call anything but the bus itself unless a policy file says so.
struct SystemType {
  std::vector<std::string> policy_files;  // included as the system bus includes system.d
};

class PrivateBus {
 public:
  // `limits` become <limit> elements (e.g. max_connections_per_user, which
  // is 256 by default).
  explicit PrivateBus(std::vector<std::string> service_dirs = {},
                      std::map<std::string, long> limits = {}) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qzbus.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const std::string config = WriteConfig(service_dirs, limits);
    try {
      Start(config);
    } catch (...) {
      Stop();
      throw;
    }
  }
  explicit PrivateBus(const SystemType& system) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qzbus.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    // Other users reach the socket through this folder.
    std::filesystem::permissions(dir_, std::filesystem::perms(0755));
    try {
      Start(WriteSystemConfig(system));
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~PrivateBus() { Stop(); }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // "unix:path=...,guid=..." as the daemon printed it.
  const std::string& address() const { return address_; }
  const std::filesystem::path& folder() const { return dir_; }

  // A new registered connection; throws when the bus can't be reached.
  BusConnection Connect() const {
    std::string why;
    GDBusConnection* connection = TryConnect(&why);
    if (!connection) throw std::runtime_error("connect to private bus: " + why);
    return BusConnection(connection);
  }

  // A new registered connection, or null with `why` set.
  GDBusConnection* TryConnect(std::string* why = nullptr) const {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection && why) *why = error->message;
    if (error) g_error_free(error);
    return connection;
  }

 private:
  std::string WriteConfig(const std::vector<std::string>& service_dirs,
                          const std::map<std::string, long>& limits) const {
    const std::string path = (dir_ / "bus.conf").string();
    std::ofstream out(path);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <keep_umask/>\n"
        << "  <listen>unix:dir=" << dir_.string() << "</listen>\n"
        << "  <auth>EXTERNAL</auth>\n";
    for (const std::string& service_dir : service_dirs)
      out << "  <servicedir>" << service_dir << "</servicedir>\n";
    for (const auto& [name, value] : limits)
      out << "  <limit name=\"" << name << "\">" << value << "</limit>\n";
    out << "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
    return path;
  }

  // The default policy of a stock system bus (as Debian ships it), then the
  // policies of the installed services.
  std::string WriteSystemConfig(const SystemType& system) const {
    const std::string path = (dir_ / "bus.conf").string();
    std::ofstream out(path);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>system</type>\n"
        << "  <listen>unix:path=" << (dir_ / "system_bus_socket").string() << "</listen>\n"
        << "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <deny own=\"*\"/>\n"
           "    <deny send_type=\"method_call\"/>\n"
           "    <allow send_type=\"signal\"/>\n"
           "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
           "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
           "    <allow receive_type=\"method_call\"/>\n"
           "    <allow receive_type=\"method_return\"/>\n"
           "    <allow receive_type=\"error\"/>\n"
           "    <allow receive_type=\"signal\"/>\n"
           "    <allow send_destination=\"org.freedesktop.DBus\" "
           "send_interface=\"org.freedesktop.DBus\"/>\n"
           "    <allow send_destination=\"org.freedesktop.DBus\"\n"
           "           send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
           "    <allow send_destination=\"org.freedesktop.DBus\"\n"
           "           send_interface=\"org.freedesktop.DBus.Properties\"/>\n"
           "    <deny send_destination=\"org.freedesktop.DBus\" "
           "send_interface=\"org.freedesktop.DBus\"\n"
           "          send_member=\"UpdateActivationEnvironment\"/>\n"
           "  </policy>\n"
           "  <policy user=\"root\">\n"
           "    <allow send_destination=\"org.freedesktop.DBus\"\n"
           "           send_interface=\"org.freedesktop.DBus.Monitoring\"/>\n"
           "  </policy>\n";
    for (const std::string& policy : system.policy_files)
      out << "  <include>" << policy << "</include>\n";
    out << "</busconfig>\n";
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
    return path;
  }

  void Start(const std::string& config) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int read_end = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // Not the test's stderr: a test runner waits for every holder of that
    // pipe, and a daemon outliving a crashed test would hold it.
    const std::string log = (dir_ / "dbus-daemon.log").string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string config_arg = "--config-file=" + config;
    std::vector<char*> argv = {
        const_cast<char*>("dbus-daemon"),     config_arg.data(),
        const_cast<char*>("--nofork"),        const_cast<char*>("--nopidfile"),
        const_cast<char*>("--print-address"), nullptr};
    const int spawned = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = -1;
      close(read_end);
      throw std::runtime_error("cannot start dbus-daemon");
    }
    address_ = ReadLine(read_end);
    close(read_end);
    if (address_.empty()) throw std::runtime_error("dbus-daemon printed no address");
  }

  // The first line the daemon writes, waiting at most 30 s for it.
  static std::string ReadLine(int fd) {
    std::string line;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < give_up) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(fd, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
    return {};
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path dir_;
  std::string address_;
  pid_t pid_ = -1;
};

}  // namespace qz::testing
