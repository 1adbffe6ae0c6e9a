// org.qznotes.QzNotes.Profiles on the factory path: administrators list,
// set and remove the mail profiles of the registry store (List, Set,
// Remove). On the system bus the policy file lets only root and the group
// qznotes call Set and Remove. Call on the main thread: a write may wait
// for a store another process holds.
#pragma once

#include <gio/gio.h>

#include <string_view>

#include "contract/contract.h"

namespace qz {

class RegistryStore;

// The interface's introspection XML, indented for the factory's node.
std::string_view ProfilesInterfaceXml();

// Answers one call on the interface; `call` stays the caller's.
void AnswerProfilesCall(GDBusConnection* connection, GDBusMessage* call, RegistryStore& store);

}  // namespace qz
