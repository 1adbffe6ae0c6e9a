// Owning holders for the GLib and GIO objects the client keeps beyond one
// statement, so an early return never leaks. Each holder is a plain
// unique_ptr; like the objects they hold, they are not shared between threads.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace qz::client {

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct ErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
struct ObjectUnref {
  void operator()(gpointer o) const { g_object_unref(o); }
};
struct NodeInfoUnref {
  void operator()(GDBusNodeInfo* n) const { g_dbus_node_info_unref(n); }
};
struct MainLoopUnref {
  void operator()(GMainLoop* l) const { g_main_loop_unref(l); }
};

using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using ConnectionPtr = std::unique_ptr<GDBusConnection, ObjectUnref>;
using NodeInfoPtr = std::unique_ptr<GDBusNodeInfo, NodeInfoUnref>;
using MainLoopPtr = std::unique_ptr<GMainLoop, MainLoopUnref>;

// Takes a value that may be floating: the holder owns a full reference.
inline VariantPtr Own(GVariant* v) { return VariantPtr(v ? g_variant_ref_sink(v) : nullptr); }

// Fills a holder through the GError** convention of the C API.
class ErrorSlot {
 public:
  explicit ErrorSlot(ErrorPtr& target) : target_(target) {}
  ~ErrorSlot() { target_.reset(raw_); }
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  operator GError**() { return &raw_; }

 private:
  ErrorPtr& target_;
  GError* raw_ = nullptr;
};

}  // namespace qz::client
