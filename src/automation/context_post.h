// Runs work on the thread that iterates a GMainContext: an idle source at
// default priority, so posted work runs in the order it was posted. Work may
// own move-only values (a held message, a unique_ptr). Safe from any thread.
#pragma once

#include <glib.h>

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

namespace qz {

// A callable run once, which may own move-only values.
class Work {
 public:
  Work() = default;
  template <typename F>
  requires(!std::same_as<std::decay_t<F>, Work> && std::invocable<std::decay_t<F>&>) Work(F&& f)
      : impl_(std::make_unique<Impl<std::decay_t<F>>>(std::forward<F>(f))) {}

  void operator()() { impl_->Run(); }
  explicit operator bool() const { return impl_ != nullptr; }

 private:
  struct Base {
    virtual ~Base() = default;
    virtual void Run() = 0;
  };
  template <typename F>
  struct Impl final : Base {
    explicit Impl(F&& g) : f(std::move(g)) {}
    explicit Impl(const F& g) : f(g) {}
    void Run() override { f(); }
    F f;
  };
  std::unique_ptr<Base> impl_;
};

void PostToContext(GMainContext* context, Work work);

}  // namespace qz
