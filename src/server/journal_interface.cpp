#include "server/journal_interface.h"

#include <string>
#include <vector>

#include "contract/contract.h"
#include "dispatch/journal_listing.h"
#include "dispatch/journal_store.h"
#include "dispatch/retry_schedule.h"
#include "server/journal_replay.h"
#include "server/object_calls.h"
#include "server/replies.h"
#include "server/server_log.h"

namespace qz {
namespace {

constexpr std::string_view kJournalXml = R"xml(  <interface name="org.qznotes.QzNotes.Journal">
    <method name="List"><arg name="failed" type="a(ssxxs)" direction="out"/></method>
    <method name="Retry"><arg name="id" type="s" direction="in"/><arg name="sent" type="u" direction="out"/></method>
    <method name="Clear"><arg name="dropped" type="u" direction="out"/></method>
  </interface>
)xml";

std::vector<DeadLetter> Letters(const JournalCallScope& scope) {
  if (!scope.journal) return {};
  return DeadLetters(*scope.journal, scope.folder, UnixMsNow());
}

void ListFailed(const JournalCallScope& scope, GDBusMessage* call) {
  GVariantBuilder rows;
  g_variant_builder_init(&rows, G_VARIANT_TYPE("a(ssxxs)"));
  for (const DeadLetter& letter : Letters(scope)) {
    const RequestRecord& r = letter.record;
    g_variant_builder_add(&rows, "(ssxxs)", r.failed_id.c_str(), r.mstrTestID.c_str(),
                          static_cast<gint64>(r.accepted_unix_ms),
                          static_cast<gint64>(r.failed_unix_ms), r.failed_reasons.c_str());
  }
  SendReply(scope.connection, call, g_variant_new("(a(ssxxs))", &rows));
}

void RetryFailed(const JournalCallScope& scope, GDBusMessage* call, std::string_view id) {
  std::vector<DeadLetter> chosen;
  for (DeadLetter& letter : Letters(scope))
    if (id.empty() || letter.record.failed_id == id) chosen.push_back(std::move(letter));
  if (!id.empty() && chosen.empty())
    return SendErrorNamed(scope.connection, call, kInvalidArgsError,
                          "no failed request " + std::string(id));
  uint32_t sent = 0;
  const bool taken = scope.objects.TakeUnlessStopping([&] {
    for (DeadLetter& letter : chosen) {
      const std::string failed_id = letter.record.failed_id;
      RequestRecord run = AsNewRun(std::move(letter.record), UnixMsNow());
      // Durable as a request to run before it runs: a crash now repeats it.
      if (!scope.journal->PutRecord(letter.key, EncodeRequest(run), run)) {
        ServerLog("journal: cannot send failed request " + failed_id + " again: not written");
        continue;
      }
      ServerLog("journal: sending failed request " + failed_id + " (" + run.mstrTestID + ") again");
      std::shared_ptr<DispatchObject> callback = KeptCallback(scope.connection, run);
      ResumeOnOwnObject(scope.objects, scope.connection, letter.key, std::move(run),
                        std::move(callback), {"retrying", "retried request done", " (retried)"});
      ++sent;
    }
  });
  if (!taken) return SendStoppingError(scope.connection, call);
  SendReply(scope.connection, call, g_variant_new("(u)", sent));
}

void ClearFailed(const JournalCallScope& scope, GDBusMessage* call) {
  uint32_t dropped = 0;
  for (const DeadLetter& letter : Letters(scope)) {
    scope.journal->Remove(letter.key);
    ++dropped;
  }
  if (dropped) ServerLog("journal: dropped " + std::to_string(dropped) + " failed requests");
  SendReply(scope.connection, call, g_variant_new("(u)", dropped));
}

}  // namespace

std::string_view JournalInterfaceXml() { return kJournalXml; }

void AnswerJournalCall(const JournalCallScope& scope, GDBusMessage* call) {
  const std::string_view member = g_dbus_message_get_member(call);
  GVariant* body = g_dbus_message_get_body(call);
  const char* expected = member == "List"    ? "()"
                         : member == "Retry" ? "(s)"
                         : member == "Clear" ? "()"
                                             : nullptr;
  if (!expected)
    return SendErrorNamed(scope.connection, call, "org.freedesktop.DBus.Error.UnknownMethod",
                          "No method " + std::string(member) + " on " + kJournalInterface);
  const bool fits = body ? g_variant_is_of_type(body, G_VARIANT_TYPE(expected))
                         : std::string_view(expected) == "()";
  if (!fits)
    return SendErrorNamed(scope.connection, call, kInvalidArgsError,
                          std::string(member) + " takes the arguments " + expected);
  if (member == "List") return ListFailed(scope, call);
  if (member == "Clear") return ClearFailed(scope, call);
  const char* id = nullptr;
  g_variant_get(body, "(&s)", &id);
  RetryFailed(scope, call, id);
}

}  // namespace qz
