#include "http/metrics_endpoint.h"

#include "dispatch/journal_listing.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qz {
namespace {

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * sysconf(_SC_PAGESIZE);
}

int64_t OpenDescriptors() {
  std::error_code ec;
  int64_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
       it.increment(ec))
    ++count;
  return count > 0 ? count - 1 : 0;  // less the one the listing holds open
}

// Unix time the process started: its start in clock ticks after boot
// (/proc/self/stat, field 22) plus the boot time (/proc/stat btime).
double ProcessStartSeconds() {
  std::ifstream stat_file("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(stat_file)), {});
  // The command name may hold blanks and parentheses; the fields follow its last ')'.
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return 0;
  std::istringstream fields(stat.substr(name_end + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  double ticks = 0;
  try {
    ticks = std::stod(field);
  } catch (...) {
    return 0;
  }
  std::ifstream system_stat("/proc/stat");
  for (std::string key; system_stat >> key;) {
    if (key != "btime") continue;
    double boot = 0;
    system_stat >> boot;
    return boot + ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return 0;
}

}  // namespace

void AddMetricsEndpoint(HttpListener& listener, MetricsSources sources, Access access) {
  listener.AddHandler(
      std::string(kMetricsPath),
      [sources = std::move(sources), start = ProcessStartSeconds()] {
        SampledMetrics sampled;
        if (sources.pending) sampled.pending = sources.pending();
        if (sources.failed) sampled.failed = sources.failed();
        if (sources.unclaimable) sampled.fleet_unclaimable = sources.unclaimable();
        if (!sources.program_folder.empty())
          sampled.journal_bytes = static_cast<int64_t>(JournalDiskBytes(sources.program_folder));
        if (sources.health) {
          sampled.retrying = sources.health->WaitingRequests();
          sampled.gateways = sources.health->Snapshot();
        }
        sampled.resident_bytes = ResidentBytes();
        sampled.open_fds = OpenDescriptors();
        sampled.start_time_seconds = start;
        return HttpAnswer{200, std::string(kMetricsContentType), sources.metrics.Render(sampled)};
      },
      access);
}

}  // namespace qz
