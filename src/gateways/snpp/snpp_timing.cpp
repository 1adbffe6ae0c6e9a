#include "gateways/snpp/snpp_timing.h"

#include <cctype>
#include <chrono>
#include <cmath>

#include "automation/variant.h"

namespace qz {
namespace {

// Nearest whole second, ties to even, as the runtime rounds.
double RoundSeconds(double seconds) { return std::nearbyint(seconds); }

}  // namespace

double ClockSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool IsTimeoutNumber(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return false;
  text = text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
  if (text[0] == '+' || text[0] == '-') text.remove_prefix(1);
  size_t digits = 0, points = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      ++digits;
    } else if (c == '.' && points == 0) {
      ++points;
    } else {
      return false;
    }
  }
  return digits > 0;
}

std::string TimeoutSetting(std::string_view text) {
  return IsTimeoutNumber(text) ? std::string(text) : std::string(kDefaultSnppTimeout);
}

double ConnectDeadline(double now) { return RoundSeconds(now + 5); }

double SendPageDeadline(double now, std::string_view timeout) {
  return RoundSeconds(now + Variant(timeout).ToInt16());
}

}  // namespace qz
