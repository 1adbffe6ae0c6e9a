#include "client/daemon_folder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "client/bus_connection.h"
#include "config/program_folder.h"

namespace qz::client {
namespace {

constexpr int kBusTimeoutMs = 5000;

// The NUL-separated entries of a /proc file (cmdline, environ).
std::vector<std::string> Entries(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> entries;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\0', at), text.size());
    entries.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return entries;
}

std::optional<uint32_t> OwnerPid(GDBusConnection* connection, const std::string& name) {
  ErrorPtr error;
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, ErrorSlot(error)));
  if (!reply) return std::nullopt;
  uint32_t pid = 0;
  g_variant_get(reply.get(), "(u)", &pid);
  return pid;
}

}  // namespace

std::optional<std::string> FolderOfDaemon(std::span<const std::string> argv,
                                          std::span<const std::string> environment,
                                          const std::string& cwd) {
  const std::string option = "--folder", with_value = option + "=";
  std::optional<std::string> folder;
  for (size_t k = 1; k < argv.size(); ++k) {
    if (argv[k] == "--") break;
    if (argv[k] == option && k + 1 < argv.size())
      folder = argv[++k];
    else if (argv[k].starts_with(with_value))
      folder = argv[k].substr(with_value.size());
  }
  const std::string variable = std::string(kFolderEnvironmentVariable) + "=";
  for (const std::string& entry : environment) {
    if (!folder && entry.starts_with(variable) && entry.size() > variable.size())
      folder = entry.substr(variable.size());
  }
  if (!folder || folder->empty()) return std::nullopt;
  return (std::filesystem::path(cwd) / *folder).lexically_normal().string();
}

std::optional<std::string> RunningDaemonFolder(const GlobalOptions& global) {
  ErrorPtr error;
  if (global.bus == BusKind::kSession) {
    // No session bus to ask is no daemon: never start one (autolaunch) for a look.
    CharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!address || g_str_has_prefix(address.get(), "autolaunch:")) return std::nullopt;
  }
  ConnectionPtr connection = OpenBus(global, error);
  if (!connection) return std::nullopt;
  const std::optional<uint32_t> pid = OwnerPid(connection.get(), global.destination);
  if (!pid) return std::nullopt;
  const std::string proc = "/proc/" + std::to_string(*pid);
  std::error_code failed;
  const std::filesystem::path cwd = std::filesystem::read_symlink(proc + "/cwd", failed);
  const std::vector<std::string> argv = Entries(proc + "/cmdline");
  if (failed || argv.empty()) return std::nullopt;  // gone, or another user's
  if (auto folder = FolderOfDaemon(argv, Entries(proc + "/environ"), cwd.string())) return folder;
  const std::filesystem::path exe = std::filesystem::read_symlink(proc + "/exe", failed);
  if (failed) return std::nullopt;
  return exe.parent_path().string();
}

}  // namespace qz::client
