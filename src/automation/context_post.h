// Runs work on the thread that iterates a GMainContext: an idle source at
// default priority, so posted work runs in the order it was posted.
// Safe from any thread.
#pragma once

#include <glib.h>

#include <functional>

namespace qz {

void PostToContext(GMainContext* context, std::function<void()> work);

}  // namespace qz
