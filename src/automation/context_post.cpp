#include "automation/context_post.h"

#include <memory>

namespace qz {
namespace {

gboolean RunPosted(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void DeletePosted(gpointer data) {
  std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(data));
}

}  // namespace

void PostToContext(GMainContext* context, std::function<void()> work) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  g_source_set_callback(source, RunPosted, owned.release(), DeletePosted);
  g_source_attach(source, context);
  g_source_unref(source);
}

}  // namespace qz
