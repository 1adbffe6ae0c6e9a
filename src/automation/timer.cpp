#include "automation/timer.h"

namespace qz {

Timer::~Timer() { Disarm(); }

void Timer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  Rearm();  // a new interval restarts the count, as the control does
}

void Timer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Rearm();
}

void Timer::Rearm() {
  Disarm();
  if (!enabled_ || interval_ == 0) return;
  source_.reset(g_timeout_source_new(interval_));
  g_source_set_callback(source_.get(), &Timer::OnTick, this, nullptr);
  g_source_attach(source_.get(), context_);
}

void Timer::Disarm() { source_.reset(); }

gboolean Timer::OnTick(gpointer self) {
  // Copy first: the handler may destroy this timer.
  std::function<void()> handler = static_cast<Timer*>(self)->handler_;
  if (handler) handler();
  return G_SOURCE_CONTINUE;
}

}  // namespace qz
