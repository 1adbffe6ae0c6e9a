// One accepted notification request as the journal keeps it: who made it,
// when, and everything the dispatch run reads of its object. The run state
// is kept rather than the call's arguments because the e-mail route was
// decided when the request came (from the seat check then, and from fields
// earlier requests on the same object left behind); replaying the state
// runs what the object would have run. Plain value; EncodeRequest and
// DecodeRequest are pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/variant.h"

namespace qz {

struct RequestRecord {
  std::string object_path;  // where the request was made, for the operator
  std::string owner;        // the creating connection, for the operator
  std::string procedure;    // SendMessageCallBack or SendMessageCallBackEx
  int64_t accepted_unix_ms = 0;

  std::string mstrTestID;
  Variant mvarNotes;
  Variant mvarEmail;
  Variant mvarPager;
  bool mblnMailEnabled = false;
  std::string mstrSubject;
  std::string mstrMailFrom;
  std::string mstrProfile;
  std::string mstrSMTPServer;
  std::string mstrNotifyServer;
  std::string callback_bus;  // the `(so)` callback reference; empty: none
  std::string callback_path;
  std::optional<uint32_t> callback_uid;  // who must hold a well-known callback_bus
  std::string mstrLastLogged;

  // Once a try failed for now and another is due (0 before the first try):
  // the arrays above then hold only what is left to send.
  int32_t tries = 0;
  int64_t next_try_unix_ms = 0;
  std::string earlier_failures;  // refused for good by earlier tries, in the log's words
  // The [Delivery] policy the first try read, kept so a restart neither
  // adds tries nor takes any away.
  int32_t attempts = 1;
  int32_t first_retry_s = 0;
  int32_t max_delay_s = 0;
  int32_t give_up_after_s = 0;

  // Set once the request gave up with retries on: the entry then stays as a
  // dead letter, never run at a restart, until it is sent again or expires.
  bool failed = false;
  std::string failed_id;  // what the operator names it by; stable across restarts
  int64_t failed_unix_ms = 0;
  std::string failed_reasons;  // the failures text of its log entry
};

std::string EncodeRequest(const RequestRecord& record);
// When the request was accepted, "2026-12-07T04:10:56Z".
std::string AcceptedTime(const RequestRecord& record);
// Raises ByteCodecError for bytes EncodeRequest did not write.
RequestRecord DecodeRequest(std::string_view bytes);
// "2026-12-07T04:10:56Z" of a Unix time in ms.
std::string UtcTime(int64_t unix_ms);
// A dead letter kept `keep_days` days after it failed is due to go.
bool FailedExpired(const RequestRecord& record, int64_t now_unix_ms, int keep_days);

}  // namespace qz
