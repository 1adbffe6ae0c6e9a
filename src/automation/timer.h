// A timer control: while enabled it calls its handler every Interval
// milliseconds on the GMainContext it was made for. Owned by one apartment;
// use it only on that apartment's thread. The handler may destroy the timer.
#pragma once

#include <glib.h>

#include <functional>

#include "platform/holders.h"

namespace qz {

class Timer {
 public:
  explicit Timer(GMainContext* context) : context_(context) {}
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned milliseconds);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }

 private:
  static gboolean OnTick(gpointer self);
  void Rearm();
  void Disarm();

  GMainContext* context_;
  unsigned interval_ = 1000;
  bool enabled_ = false;
  SourcePtr source_;
  std::function<void()> handler_;
};

}  // namespace qz
