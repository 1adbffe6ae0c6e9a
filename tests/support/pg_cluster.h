// A throwaway PostgreSQL 15 cluster for one test or benchmark: initdb in a
// scratch folder, the server on a Unix socket in that folder and no TCP at
// all, run as an unprivileged user (`nobody` when the test runs as root).
// Stop() and Start() again make an outage; the destructor stops the server
// (by its PID when pg_ctl cannot) and removes the folder. Use from one
// thread.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/unix_user.h"

namespace qz::testing {

class PgCluster {
 public:
  static constexpr const char* kPgBin = "/usr/lib/postgresql/15/bin";

  // Whether PostgreSQL 15 is installed and a server can run here (as root
  // it must be able to drop to `nobody`).
  static bool Available() {
    const std::string initdb = std::string(kPgBin) + "/initdb";
    if (access(initdb.c_str(), X_OK) != 0) return false;
    return geteuid() != 0 || (CanSwitchUsers() && FindUser("nobody").has_value());
  }

  // `fsync`: off for tests (nothing here must survive a power cut), on for
  // benchmarks that measure commits.
  explicit PgCluster(bool fsync = false) : fsync_(fsync) {}
  ~PgCluster() {
    if (started_) Stop();
    // pg_ctl may have failed to stop it: the postmaster's PID is in its file.
    std::ifstream pid_file(folder_.File("data/postmaster.pid"));
    pid_t pid = 0;
    if (pid_file >> pid && pid > 0 && kill(pid, SIGQUIT) == 0) {
      for (int i = 0; i < 250 && kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Makes the cluster and its database `qznotes` the first time; starts the
  // server (again). False, with the tools' output in log(), when it cannot.
  bool Start() {
    if (!made_ && !Make()) return false;
    const std::string options =
        "-k " + folder_.path() + " -c listen_addresses='' -c fsync=" + (fsync_ ? "on" : "off");
    started_ = Run({Tool("pg_ctl"), "start", "-w", "-t", "60", "-D", Data(), "-l",
                    folder_.File("server.log"), "-o", options});
    if (started_ && !database_made_) {
      database_made_ = Run({Tool("createdb"), "-h", folder_.path(), "-U", "qznotes", "qznotes"});
      started_ = database_made_;
    }
    return started_;
  }
  // Stops the server (fast: sessions are cut off); the data stays.
  bool Stop() {
    started_ = false;
    return Run({Tool("pg_ctl"), "stop", "-w", "-t", "60", "-m", "fast", "-D", Data()});
  }

  std::string conninfo() const { return "host=" + folder_.path() + " dbname=qznotes user=qznotes"; }
  std::string url() const {
    return "postgresql:///qznotes?host=" + folder_.path() + "&user=qznotes";
  }
  // What initdb, pg_ctl and the server said.
  std::string log() const { return folder_.Read("tools.log") + folder_.Read("server.log"); }

 private:
  static std::string Tool(const std::string& name) { return std::string(kPgBin) + "/" + name; }
  std::string Data() const { return folder_.File("data"); }

  bool Make() {
    // Reachable by the test's user and by the server's; owned by the server's.
    chmod(folder_.path().c_str(), 0755);
    if (geteuid() == 0) {
      const std::optional<UnixUser> nobody = FindUser("nobody");
      const group* nogroup = getgrnam("nogroup");
      if (!nobody) return false;
      server_uid_ = nobody->uid;
      server_gid_ = nogroup ? nogroup->gr_gid : nobody->gid;
      if (chown(folder_.path().c_str(), server_uid_, server_gid_) != 0) return false;
    }
    made_ = Run({Tool("initdb"), "-D", Data(), "-A", "trust", "-U", "qznotes", "--no-sync",
                 "--no-locale", "-E", "UTF8"});
    return made_;
  }

  // Runs a PostgreSQL tool to its end as the server's user, in the folder;
  // its output goes to tools.log. True when it exits 0.
  bool Run(std::vector<std::string> args) {
    if (geteuid() == 0)
      args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(server_uid_),
                                 "--regid=" + std::to_string(server_gid_), "--clear-groups", "--"});
    try {
      ChildProcess tool(std::move(args), folder_.File("tools.log"),
                        {.dir = folder_.path(), .append = true});
      return tool.WaitExit(std::chrono::minutes(10)) == 0;
    } catch (const std::runtime_error&) {  // it could not be started
      return false;
    }
  }

  TempFolder folder_;
  bool fsync_;
  uid_t server_uid_ = geteuid();
  gid_t server_gid_ = getegid();
  bool made_ = false;
  bool database_made_ = false;
  bool started_ = false;
};

}  // namespace qz::testing
