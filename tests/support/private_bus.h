// A private dbus-daemon for one test: started in a scratch folder of its own
// with a configuration that lets anyone own any name, stopped and reaped by
// the destructor. Optional service folders allow bus activation tests. A
// system-type bus (SystemType) instead has the system bus's default policy
// and the given policy files, and lets every Unix user connect.
// Use from one thread; connections it hands out are safe from any thread.
#pragma once

#include <gio/gio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref>;

// A bus configured as the system bus is: anyone may connect, nobody may own
// a name or call anything but the bus itself unless a policy file says so.
// QZ_TEST_BUS=dbus-broker serves the system-type buses of the tests and
// benchmarks by dbus-broker (Debian's dbus-broker package) instead of
// dbus-daemon: it accounts queued messages per user, where dbus-daemon keeps
// one queue per destination, and words its refusals its own way.
inline bool BrokerWanted() {
  const char* bus = getenv("QZ_TEST_BUS");
  return bus && std::string_view(bus) == "dbus-broker";
}

struct SystemType {
  std::vector<std::string> policy_files;  // included as the system bus includes system.d
  bool broker = BrokerWanted();
};

class PrivateBus {
 public:
  // `limits` become <limit> elements (e.g. max_connections_per_user, which
  // is 256 by default).
  explicit PrivateBus(std::vector<std::string> service_dirs = {},
                      std::map<std::string, long> limits = {}) {
    std::ofstream out = Config("session", "unix:dir=" + folder_.path());
    out << "<keep_umask/>\n";
    for (const std::string& service_dir : service_dirs)
      out << "<servicedir>" << service_dir << "</servicedir>\n";
    for (const auto& [name, value] : limits)
      out << "<limit name=\"" << name << "\">" << value << "</limit>\n";
    out << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    Start(out);
  }
  explicit PrivateBus(const SystemType& system) {
    // Other users reach the socket through this folder.
    std::filesystem::permissions(folder_.path(), std::filesystem::perms(0755));
    std::ofstream out = Config("system", "unix:path=" + folder_.File("system_bus_socket"));
    // The default policy of a stock system bus (as Debian ships it), then the
    // policies of the installed services.
    out << R"(<policy context="default"><allow user="*"/><deny own="*"/><allow send_type="signal"/>
<deny send_type="method_call"/><allow send_requested_reply="true" send_type="method_return"/>
<allow send_requested_reply="true" send_type="error"/><allow receive_type="method_call"/>
<allow receive_type="method_return"/><allow receive_type="error"/><allow receive_type="signal"/>
<allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
<allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
<allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
<deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
      send_member="UpdateActivationEnvironment"/></policy>
<policy user="root"><allow send_destination="org.freedesktop.DBus"
      send_interface="org.freedesktop.DBus.Monitoring"/></policy>
)";
    for (const std::string& policy : system.policy_files)
      out << "<include>" << policy << "</include>\n";
    out << "</busconfig>\n";
    if (system.broker)
      StartBroker(out);
    else
      Start(out);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // "unix:path=...,guid=..." as the daemon printed it.
  const std::string& address() const { return address_; }
  std::filesystem::path folder() const { return folder_.path(); }

  // A new registered connection; throws when the bus can't be reached.
  BusConnection Connect() const {
    std::string why;
    if (GDBusConnection* connection = TryConnect(&why)) return BusConnection(connection);
    throw std::runtime_error("connect to private bus: " + why);
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
  std::ofstream Config(const char* type, const std::string& listen) const {
    std::ofstream out(folder_.File("bus.conf"));
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
        << "<type>" << type << "</type><listen>" << listen << "</listen>\n"
        << "<auth>EXTERNAL</auth>\n";
    return out;
  }

  // Starts dbus-daemon on the configuration `out` has written, and waits
  // (at most 30 s) for the address it prints once it listens.
  void Start(std::ofstream& out) {
    if (!out.flush()) throw std::runtime_error("cannot write the bus configuration");
    gchar* program = g_find_program_in_path("dbus-daemon");
    if (!program) throw std::runtime_error("no dbus-daemon");
    daemon_.emplace(std::vector<std::string>{program, "--config-file=" + folder_.File("bus.conf"),
                                             "--nofork", "--nopidfile", "--print-address"},
                    folder_.File("dbus-daemon.log"));
    g_free(program);
    Eventually(
        [&] {
          const std::string out = daemon_->Output();
          const size_t at = out.find("unix:"), end = out.find('\n', at);
          if (end != std::string::npos) address_ = out.substr(at, end - at);
          return !address_.empty();
        },
        std::chrono::seconds(30));
    if (address_.empty()) throw std::runtime_error("dbus-daemon printed no address");
  }

  // dbus-broker-launch takes its listening socket the way systemd hands it
  // over, and logs to the journal's socket: where no journald listens, a
  // stand-in takes the lines and drops them.
  void StartBroker(std::ofstream& out) {
    constexpr const char* kJournal = "/run/systemd/journal/socket";
    constexpr const char* kJournalStandIn =
        "import os,socket,sys\n"
        "s=socket.socket(socket.AF_UNIX,socket.SOCK_DGRAM)\n"
        "s.bind(sys.argv[1])\n"
        "os.chmod(sys.argv[1],0o666)\n"
        "while s.recv(65536): pass\n";
    if (!out.flush()) throw std::runtime_error("cannot write the bus configuration");
    if (!std::filesystem::exists("/usr/bin/dbus-broker-launch"))
      throw std::runtime_error("no dbus-broker-launch (Debian package dbus-broker)");
    if (!std::filesystem::exists(kJournal)) {
      std::filesystem::create_directories(std::filesystem::path(kJournal).parent_path());
      journal_.emplace(
          std::vector<std::string>{"/usr/bin/python3", "-c", kJournalStandIn, kJournal},
          folder_.File("journal.log"));
      journal_path_.path = kJournal;
      Eventually([&] { return std::filesystem::exists(kJournal); }, std::chrono::seconds(10));
    }
    const std::string socket = folder_.File("system_bus_socket");
    daemon_.emplace(std::vector<std::string>{"/usr/bin/systemd-socket-activate", "-E",
                                             "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socket, "-l",
                                             socket, "/usr/bin/dbus-broker-launch", "--scope",
                                             "system", "--config-file", folder_.File("bus.conf")},
                    folder_.File("dbus-daemon.log"));
    if (!Eventually([&] { return std::filesystem::exists(socket); }, std::chrono::seconds(30)))
      throw std::runtime_error("dbus-broker did not listen");
    std::filesystem::permissions(socket, std::filesystem::perms(0666));
    address_ = "unix:path=" + socket;
  }

  struct RemovedFile {
    std::string path;
    ~RemovedFile() {
      if (!path.empty()) unlink(path.c_str());
    }
  };

  TempFolder folder_;
  RemovedFile journal_path_;  // unlinked after the stand-in below is gone
  std::optional<ChildProcess> journal_;
  std::optional<ChildProcess> daemon_;  // stopped before its folder goes
  std::string address_;
};

}  // namespace qz::testing
