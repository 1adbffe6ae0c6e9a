// The live daemon under generated calls: every method its introspection
// shows, with arguments of the right signature and of wrong ones, from
// several connections that come and go, interleaved with objects created
// and released and with SIGTERM stops and restarts. After every N calls the
// daemon must still answer and stay within a resident-memory bound; a
// sanitizer report, a crash or a hang stops the run with the seed and the
// step that repeat it.
//
// It runs in a network namespace of its own (only loopback exists) and a
// mount namespace where the settings files are read-only, so nothing it
// makes up can leave the machine, dial a modem or rewrite the gateways.
//
//   build/asan/qznotes_bus_fuzz [--seed N] [--seconds N] [--check-every N]
//                               [--rss-limit-mib N] [--steps N] [--no-sigterm]
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/proc_stats.h"
#include "fuzz/bus_fuzz/value_maker.h"
#include "integration/daemon_harness.h"
#include "support/isolated_network.h"

namespace qz::fuzz {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::Daemon;
using testing::PrivateBus;
using testing::ProgramFolder;

struct Options {
  uint64_t seed = 1;
  int seconds = 60;
  int check_every = 200;
  double rss_limit_mib = 256;
  bool sigterm = true;
  uint64_t steps = 0;  // stop after this many steps; 0: when the time is up
};

bool WriteFile(const char* path, const std::string& text) {
  std::ofstream out(path);
  return static_cast<bool>(out << text);
}

// Loopback only, settings read-only. As root, or in a user namespace of our own.
bool Confine() {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
    if (!WriteFile("/proc/self/setgroups", "deny") ||
        !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return false;
  }
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         testing::BringUpLoopback();
}

bool MakeReadOnly(const std::filesystem::path& file) {
  return mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount(nullptr, file.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

struct Method {
  std::string path, interface, name, in;  // in: "(ss)"
};

// The methods `path` offers, from its introspection.
std::vector<Method> Methods(Client& client, const std::string& path) {
  testing::Answer answer =
      client.Call(path, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr, 10000);
  std::vector<Method> methods;
  if (!answer.ok()) return methods;
  const char* xml = nullptr;
  g_variant_get(answer.value.get(), "(&s)", &xml);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
  if (!node) return methods;
  for (GDBusInterfaceInfo** i = node->interfaces; i && *i; ++i)
    for (GDBusMethodInfo** m = (*i)->methods; m && *m; ++m) {
      std::string in = "(";
      for (GDBusArgInfo** a = (*m)->in_args; a && *a; ++a) in += (*a)->signature;
      methods.push_back({path, (*i)->name, (*m)->name, in + ")"});
    }
  g_dbus_node_info_unref(node);
  return methods;
}

class Run {
 public:
  Run(const Options& options, const std::filesystem::path& folder)
      : options_(options), folder_(folder), make_(options.seed) {}

  // 0 when the time ran out with the daemon healthy.
  int Go() {
    daemon_ = std::make_unique<Daemon>(bus_, folder_, std::vector<std::string>{"--linger", "600"});
    for (int i = 0; i < 3; ++i) clients_.push_back(NewClient());
    root_methods_ = Methods(*clients_[0], testing::kRoot);
    if (root_methods_.empty()) return Fail("the daemon offers no methods");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options_.seconds);
    while (std::chrono::steady_clock::now() < end &&
           (options_.steps == 0 || step_ < options_.steps)) {
      ++step_;
      if (int failed = Step()) return failed;
      if (step_ % options_.check_every == 0)
        if (int failed = Check()) return failed;
    }
    std::cout << "bus_fuzz: seed " << options_.seed << ": " << step_ << " steps, " << calls_
              << " calls, " << stops_ << " stops, peak " << peak_mib_ << " MiB resident\n";
    return Check();
  }

 private:
  std::unique_ptr<Client> NewClient() {
    auto client = std::make_unique<Client>(bus_);
    make_.names.push_back(client->UniqueName());
    return client;
  }

  int Step() {
    const uint64_t action = make_.Below(100);
    Client& client = *clients_[make_.Below(clients_.size())];
    if (action < 3) {  // a connection goes, its objects with it; another comes
      const size_t i = make_.Below(clients_.size());
      if (make_.OneIn(2)) clients_[i]->Disconnect();
      clients_[i] = NewClient();
    } else if (action < 15) {
      const std::string progid = make_.OneIn(5) ? make_.Text() : "QzNotes.cNotify";
      const std::string path = client.Create(progid.c_str());
      ++calls_;
      if (!path.empty()) {
        make_.paths.push_back(path);
        if (object_methods_.empty()) object_methods_ = Methods(client, path);
      }
    } else if (action < 20 && make_.paths.size() > 4) {
      const std::string& path = make_.paths[4 + make_.Below(make_.paths.size() - 4)];
      client.Call(path, testing::kDispatch, "Release", nullptr, 5000);
      ++calls_;
    } else if (action == 20 && options_.sigterm && make_.OneIn(20)) {
      return Restart();
    } else {
      const bool on_object = !object_methods_.empty() && make_.paths.size() > 4 && make_.OneIn(2);
      const std::vector<Method>& from = on_object ? object_methods_ : root_methods_;
      const Method& m = from[make_.Below(from.size())];
      const std::string path =
          on_object ? make_.paths[4 + make_.Below(make_.paths.size() - 4)] : m.path;
      GVariant* args = make_.Arguments(m.in);
      client.Call(path, m.interface.c_str(), m.name.c_str(), args, 5000);
      ++calls_;
    }
    return 0;
  }

  // A stop must end in time and cleanly; the next run replays the journal.
  int Restart() {
    daemon_->Signal(SIGTERM);
    const int status = daemon_->WaitExit(60s);
    if (status != 0) return Fail("SIGTERM ended the daemon with status " + std::to_string(status));
    if (int failed = Reports()) return failed;
    ++stops_;
    daemon_ = std::make_unique<Daemon>(bus_, folder_, std::vector<std::string>{"--linger", "600"});
    return 0;
  }

  int Check() {
    if (int failed = Reports(true)) return failed;
    Client probe(bus_);
    if (!probe.Call(testing::kRoot, "org.freedesktop.DBus.Peer", "Ping", nullptr, 30000).ok())
      return Fail("the daemon did not answer a ping within 30 s");
    const pid_t pid = bench::OwnerPid(probe.connection());
    const double rss = bench::MemoryMiB(pid, "VmRSS");
    peak_mib_ = std::max(peak_mib_, rss);
    if (rss > options_.rss_limit_mib)
      return Fail("resident memory " + std::to_string(rss) + " MiB is past the bound");
    return 0;
  }

  // A sanitizer's report in the daemon's output; with `running`, also a
  // daemon that ended by itself.
  int Reports(bool running = false) {
    const std::string log = daemon_->Log();
    for (const char* mark : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
      if (log.find(mark) != std::string::npos) return Fail(std::string("a sanitizer report"));
    if (running && daemon_->WaitExit(0ms) != Daemon::kRunning)
      return Fail("the daemon ended by itself");
    return 0;
  }

  int Fail(const std::string& what) {
    std::cout << "bus_fuzz: FAILED at seed " << options_.seed << " step " << step_ << ": " << what
              << "\nrepeat: --seed " << options_.seed << " --steps " << step_
              << "\n--- daemon output ---\n"
              << (daemon_ ? daemon_->Log() : std::string()) << "\n";
    return 1;
  }

  const Options options_;
  const std::filesystem::path folder_;
  ValueMaker make_;
  PrivateBus bus_;
  std::unique_ptr<Daemon> daemon_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<Method> root_methods_, object_methods_;
  uint64_t step_ = 0, calls_ = 0, stops_ = 0;
  double peak_mib_ = 0;
};

}  // namespace
}  // namespace qz::fuzz

int main(int argc, char** argv) {
  qz::fuzz::Options options;
  const std::map<std::string, std::function<void(const char*)>> valued = {
      {"--seed", [&](const char* v) { options.seed = std::stoull(v); }},
      {"--seconds", [&](const char* v) { options.seconds = std::stoi(v); }},
      {"--check-every", [&](const char* v) { options.check_every = std::max(1, std::stoi(v)); }},
      {"--rss-limit-mib", [&](const char* v) { options.rss_limit_mib = std::stod(v); }},
      {"--steps", [&](const char* v) { options.steps = std::stoull(v); }},
  };
  for (int i = 1; i < argc; ++i) {
    const auto option = valued.find(argv[i]);
    if (std::string_view(argv[i]) == "--no-sigterm") {
      options.sigterm = false;
    } else if (option != valued.end() && i + 1 < argc) {
      option->second(argv[++i]);
    } else {
      std::cerr << "usage: qznotes_bus_fuzz [--seed N] [--seconds N] [--check-every N]"
                   " [--rss-limit-mib N] [--steps N] [--no-sigterm]\n";
      return 2;
    }
  }
  if (!qz::fuzz::Confine()) {
    std::cerr << "bus_fuzz: needs a network and mount namespace of its own (root, or user "
                 "namespaces): "
              << std::strerror(errno) << "\n";
    return 2;
  }
  // A small quarantine, so that resident memory says what the daemon holds.
  setenv("ASAN_OPTIONS", "quarantine_size_mb=16", 0);
  qz::testing::ProgramFolder folder;
  folder.UseSnpp(1, 1);  // a closed loopback port: requests fail fast
  // Profile mail goes to a sendmail that only reads.
  const std::filesystem::path bin = folder.path() / "bin";
  std::filesystem::create_directory(bin);
  std::ofstream(bin / "sendmail") << "#!/bin/sh\nexec cat >/dev/null\n";
  std::filesystem::permissions(bin / "sendmail", std::filesystem::perms(0755));
  setenv("PATH", (bin.string() + ":" + getenv("PATH")).c_str(), 1);
  for (const char* name : {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"})
    if (!qz::fuzz::MakeReadOnly(folder.path() / name)) {
      std::cerr << "bus_fuzz: cannot make " << name << " read-only: " << std::strerror(errno)
                << "\n";
      return 2;
    }
  const int status = qz::fuzz::Run(options, folder.path()).Go();
  for (const char* name : {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"})
    umount2((folder.path() / name).c_str(), MNT_DETACH);
  return status;
}
