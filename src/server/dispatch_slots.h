// The IDispatch slots every served object answers besides its operations:
// QueryInterface, AddRef, Release, GetTypeInfoCount, GetTypeInfo and
// GetIDsOfNames. Invoke is not among them: it runs on the object's
// apartment like a named call. Main thread.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>

#include "server/call_admission.h"
#include "server/object_table.h"

namespace qz {

// Answers `call` to one slot of `entry`'s object. A Release that drops the
// last reference hands the entry, now out of `table`, to `destroy` once
// the answer is sent; an AddRef past the references limit is refused.
void AnswerDispatchSlot(GDBusConnection* connection, GDBusMessage* call, const ObjectEntry& entry,
                        ObjectTable& table, CallAdmission& admission,
                        const std::function<void(std::shared_ptr<ObjectEntry>)>& destroy);

}  // namespace qz
