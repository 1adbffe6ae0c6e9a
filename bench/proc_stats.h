// What the D-Bus benchmarks read about the daemon: its process id (asked of
// the bus, so an activated daemon is found too), its memory and context
// switches from /proc, and percentiles of recorded latencies.
#pragma once

#include <dirent.h>
#include <gio/gio.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qz::bench {

// The process owning `name` on the bus of `connection`; 0 when none does.
inline pid_t OwnerPid(GDBusConnection* connection, const char* name = "org.qznotes.QzNotes") {
  GVariant* reply = g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixProcessID", g_variant_new("(s)", name), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
  if (!reply) return 0;
  guint32 pid = 0;
  g_variant_get(reply, "(u)", &pid);
  g_variant_unref(reply);
  return static_cast<pid_t>(pid);
}

// A "Key:   123 kB" line of a /proc status file, in its own unit; -1 when absent.
inline long StatusField(const std::string& status_path, const std::string& key) {
  std::ifstream in(status_path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) != 0) continue;
    return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

inline double MemoryMiB(pid_t pid, const char* key) {
  long kib = StatusField("/proc/" + std::to_string(pid) + "/status", key);
  return kib < 0 ? -1 : kib / 1024.0;
}

// Voluntary plus involuntary switches of each thread, by "tid name".
inline std::map<std::string, long> ThreadSwitches(pid_t pid) {
  std::map<std::string, long> out;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return out;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = tasks + "/" + entry->d_name;
    std::string comm;
    std::getline(std::ifstream(task + "/comm"), comm);
    long v = StatusField(task + "/status", "voluntary_ctxt_switches");
    long n = StatusField(task + "/status", "nonvoluntary_ctxt_switches");
    if (v >= 0 && n >= 0) out[std::string(entry->d_name) + " " + comm] = v + n;
  }
  closedir(dir);
  return out;
}

// Ended: no such process, or a zombie its parent has not reaped yet.
inline bool ProcessGone(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return true;
  std::string stat;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
  size_t end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() || stat[end + 2] == 'Z' ||
         stat[end + 2] == 'X';
}

// Waits, polling every 10 ms for at most `limit`, until `pid` has ended.
inline bool WaitGone(pid_t pid, std::chrono::milliseconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!ProcessGone(pid) && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return ProcessGone(pid);
}

// The q-quantile (0..1) of `values`, which it sorts; 0 when empty.
inline double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

inline double MicrosSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace qz::bench
