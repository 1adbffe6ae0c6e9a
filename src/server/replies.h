// Answers to method calls the server handled itself. Safe from any thread:
// GDBus queues the message for its worker.
#pragma once

#include <gio/gio.h>

#include <string>
#include <string_view>

#include "automation/run_time_error.h"
#include "contract/contract.h"

namespace qz {

// "org.qznotes.QzNotes.Error.E13"; "…N5" for a negative number.
std::string ErrorName(int32_t number);

// `body` may be null (no out-arguments); a floating body is consumed.
void SendReply(GDBusConnection* connection, GDBusMessage* call, GVariant* body);
// The error as org.qznotes.QzNotes.Error.E<number>, "<source>: <description>".
void SendError(GDBusConnection* connection, GDBusMessage* call, const RunTimeError& error);
void SendErrorNamed(GDBusConnection* connection, GDBusMessage* call, std::string_view name,
                    std::string_view message);
// The bus's own name for arguments a method cannot take.
inline constexpr std::string_view kInvalidArgsError = "org.freedesktop.DBus.Error.InvalidArgs";
// The refusal of a call that came once the stop was decided.
void SendStoppingError(GDBusConnection* connection, GDBusMessage* call);

}  // namespace qz
