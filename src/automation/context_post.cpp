#include "automation/context_post.h"

#include "platform/holders.h"

namespace qz {
namespace {

gboolean RunPosted(gpointer data) {
  (*static_cast<Work*>(data))();
  return G_SOURCE_REMOVE;
}

void DeletePosted(gpointer data) { std::unique_ptr<Work> owned(static_cast<Work*>(data)); }

}  // namespace

void PostToContext(GMainContext* context, Work work) {
  // Attached, the context holds the source; ours is let go at once.
  AttachedSourcePtr source(g_idle_source_new());
  g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
  auto owned = std::make_unique<Work>(std::move(work));
  g_source_set_callback(source.get(), RunPosted, owned.release(), DeletePosted);
  g_source_attach(source.get(), context);
}

}  // namespace qz
