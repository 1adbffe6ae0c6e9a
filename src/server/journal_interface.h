// org.qznotes.QzNotes.Journal on the factory path: the requests that gave
// up with retries on (dead letters) are listed (List), sent again as new
// runs (Retry) or dropped (Clear). On the system bus the policy file lets
// only root and the group qznotes call them, and the server refuses
// anyone else too. Call on the main thread.
#pragma once

#include <gio/gio.h>

#include <string>
#include <string_view>

namespace qz {

class ObjectCalls;
class JournalStore;

// The interface's introspection XML, indented for the factory's node.
std::string_view JournalInterfaceXml();

struct JournalCallScope {
  GDBusConnection* connection;
  JournalStore* journal;  // none: there are no dead letters to answer
  ObjectCalls& objects;
  const std::string& folder;
};

// Answers one call on the interface; `call` stays the caller's.
void AnswerJournalCall(const JournalCallScope& scope, GDBusMessage* call);

}  // namespace qz
