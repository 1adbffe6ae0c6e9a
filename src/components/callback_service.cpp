#include "components/callback_service.h"

#include <memory>
#include <optional>

#include "components/allowed_hosts.h"
#include "components/callback_target.h"
#include "components/dbus_callback.h"
#include "components/http_callback.h"
#include "components/local_host.h"
#include "config/settings_groups.h"
#include "config/settings_path.h"
#include "contract/contract.h"
#include "platform/ini_file.h"
#include "platform/trim.h"

namespace qz {
namespace {

bool AllowedBySettings(const std::string& folder, std::string_view host) {
  IniFile settings(SettingsPath(folder, kMainSettingsFile));
  std::optional<std::string> list = settings.Read(kCallbackSection, kAllowedHostsKey);
  return list && HostAllowed(*list, host);
}

}  // namespace

void RegisterCallbackService(ComponentRegistry& registry, CallbackServiceOptions options) {
  auto factory = [connection = ShareConnection(options.connection), system_bus = options.system_bus,
                  folder = std::move(options.folder), limit = options.http_time_limit,
                  worker = options.http_worker, metrics = options.metrics](
                     std::string_view requested) -> std::shared_ptr<DispatchObject> {
    const std::string_view host = TrimBlanks(requested);
    if (IsLocalHost(host)) {
      if (!connection) return nullptr;
      return std::make_shared<DbusCallback>(connection);
    }
    std::optional<CallbackTarget> target = ParseCallbackTarget(host);
    if (!target) return nullptr;
    if (system_bus && !AllowedBySettings(folder, target->host)) return nullptr;
    return std::make_shared<HttpCallback>(std::move(*target), limit, HostResolver{}, worker,
                                          metrics);
  };
  registry.Register(kCallbackProgId, std::move(factory));
}

}  // namespace qz
