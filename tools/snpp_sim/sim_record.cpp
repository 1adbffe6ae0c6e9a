#include "snpp_sim/sim_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "snpp_sim/sim_script.h"

namespace qz::snppsim {

Record::Record(const std::string& path, bool unix_times)
    : path_empty_(path.empty()), unix_times_(unix_times) {
  if (!path_empty_)
    fd_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_TRUNC, 0644));
}

void Record::Write(int connection, std::chrono::steady_clock::time_point since,
                   std::string_view kind, std::string_view text) const {
  if (!fd_) return;
  using namespace std::chrono;
  double ms = unix_times_
                  ? duration<double, std::milli>(system_clock::now().time_since_epoch()).count()
                  : duration<double, std::milli>(steady_clock::now() - since).count();
  char head[64];
  std::snprintf(head, sizeof head, "%d\t%.1f\t", connection, ms);
  std::string line = head;
  line.append(kind).append("\t").append(Escape(text)).append("\n");
  [[maybe_unused]] ssize_t n = ::write(fd_.get(), line.data(), line.size());
}

}  // namespace qz::snppsim
