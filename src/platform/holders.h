// Owning holders for the C resources of GLib/GIO, libcurl and the C
// library, so an early return or an exception never leaks and nothing is
// released by hand. Each is a plain unique_ptr; like what they hold, they
// are not shared between threads unless the resource itself is thread-safe.
#pragma once

#include <curl/curl.h>
#include <dirent.h>
#include <gio/gio.h>
#include <netdb.h>

#include <cstdlib>
#include <memory>

namespace qz {

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct VariantIterFree {
  void operator()(GVariantIter* i) const { g_variant_iter_free(i); }
};
struct ErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
struct ObjectUnref {
  void operator()(gpointer o) const { g_object_unref(o); }
};
struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
struct StrvFree {
  void operator()(gchar** v) const { g_strfreev(v); }
};
struct NodeInfoUnref {
  void operator()(GDBusNodeInfo* n) const { g_dbus_node_info_unref(n); }
};
struct MainLoopUnref {
  void operator()(GMainLoop* l) const { g_main_loop_unref(l); }
};
struct MainContextUnref {
  void operator()(GMainContext* c) const { g_main_context_unref(c); }
};
// A source that stays on its context when we let go of it.
struct SourceUnref {
  void operator()(GSource* s) const { g_source_unref(s); }
};
// A source is destroyed (taken off its context) and then let go.
struct SourceDestroy {
  void operator()(GSource* s) const {
    g_source_destroy(s);
    g_source_unref(s);
  }
};
struct OptionContextFree {
  void operator()(GOptionContext* c) const { g_option_context_free(c); }
};
struct CurlCleanup {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct CurlUrlCleanup {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};
struct CurlSlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
// What the C library hands out with malloc (realpath, sd-login's strings).
struct MallocFree {
  void operator()(void* p) const { std::free(p); }
};
struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
struct DirClose {
  void operator()(DIR* d) const { ::closedir(d); }
};

using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using VariantIterPtr = std::unique_ptr<GVariantIter, VariantIterFree>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
template <typename T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using ConnectionPtr = ObjectPtr<GDBusConnection>;
using MessagePtr = ObjectPtr<GDBusMessage>;
using CharPtr = std::unique_ptr<gchar, GFree>;
using StrvPtr = std::unique_ptr<gchar*, StrvFree>;
using NodeInfoPtr = std::unique_ptr<GDBusNodeInfo, NodeInfoUnref>;
using MainLoopPtr = std::unique_ptr<GMainLoop, MainLoopUnref>;
using MainContextPtr = std::unique_ptr<GMainContext, MainContextUnref>;
using SourcePtr = std::unique_ptr<GSource, SourceDestroy>;
using AttachedSourcePtr = std::unique_ptr<GSource, SourceUnref>;
using OptionContextPtr = std::unique_ptr<GOptionContext, OptionContextFree>;
using CurlPtr = std::unique_ptr<CURL, CurlCleanup>;
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlCleanup>;
using CurlText = std::unique_ptr<char, CurlFree>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistFree>;
using MallocCharPtr = std::unique_ptr<char, MallocFree>;
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;
using DirPtr = std::unique_ptr<DIR, DirClose>;

// Takes a value that may be floating: the holder owns a full reference.
inline VariantPtr Own(GVariant* v) { return VariantPtr(v ? g_variant_ref_sink(v) : nullptr); }
// A further reference to a GObject, held.
template <typename T>
ObjectPtr<T> Ref(T* object) {
  return ObjectPtr<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

// Appends a copy of `line`; false (the list unchanged) when out of memory.
inline bool AppendLine(CurlSlistPtr& list, const char* line) {
  curl_slist* grown = curl_slist_append(list.get(), line);
  if (!grown) return false;
  (void)list.release();  // `grown` owns the old list now
  list.reset(grown);
  return true;
}

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

// The message of an error, or `fallback` when a call failed without one.
inline const char* ErrorText(const ErrorPtr& error, const char* fallback = "unknown error") {
  return error && error->message ? error->message : fallback;
}

}  // namespace qz
