#include "dispatch/request_record.h"

#include <ctime>

#include "automation/variant_codec.h"

namespace qz {
namespace {

// Bumped whenever the layout below changes; older daemons refuse newer
// records rather than misreading them. Layout 1 had no callback user;
// layout 3 adds the retry state, and is written only once a retry waits,
// so a request not yet tried keeps the bytes older daemons read; layout 4
// marks a request that gave up, and only such a one.
constexpr uint8_t kLayout = 4;
constexpr uint8_t kRetryLayout = 3;
constexpr uint8_t kUntriedLayout = 2;

}  // namespace

std::string EncodeRequest(const RequestRecord& r) {
  std::string bytes;
  ByteWriter out(bytes);
  const bool retrying = r.tries > 0 || r.failed;
  out.U8(r.failed ? kLayout : retrying ? kRetryLayout : kUntriedLayout);
  out.Text(r.object_path);
  out.Text(r.owner);
  out.Text(r.procedure);
  out.U64(static_cast<uint64_t>(r.accepted_unix_ms));
  out.Text(r.mstrTestID);
  EncodeVariant(r.mvarNotes, out);
  EncodeVariant(r.mvarEmail, out);
  EncodeVariant(r.mvarPager, out);
  out.U8(r.mblnMailEnabled ? 1 : 0);
  for (const std::string* text :
       {&r.mstrSubject, &r.mstrMailFrom, &r.mstrProfile, &r.mstrSMTPServer, &r.mstrNotifyServer,
        &r.callback_bus, &r.callback_path, &r.mstrLastLogged})
    out.Text(*text);
  out.U8(r.callback_uid ? 1 : 0);
  out.U32(r.callback_uid.value_or(0));
  if (!retrying) return bytes;
  out.U32(static_cast<uint32_t>(r.tries));
  out.U64(static_cast<uint64_t>(r.next_try_unix_ms));
  out.Text(r.earlier_failures);
  for (int32_t value : {r.attempts, r.first_retry_s, r.max_delay_s, r.give_up_after_s})
    out.U32(static_cast<uint32_t>(value));
  if (!r.failed) return bytes;
  out.Text(r.failed_id);
  out.U64(static_cast<uint64_t>(r.failed_unix_ms));
  out.Text(r.failed_reasons);
  return bytes;
}

RequestRecord DecodeRequest(std::string_view bytes) {
  ByteReader in(bytes);
  const uint8_t layout = in.U8();
  if (layout < 1 || layout > kLayout) throw ByteCodecError("request written by another version");
  RequestRecord r;
  r.object_path = in.Text();
  r.owner = in.Text();
  r.procedure = in.Text();
  r.accepted_unix_ms = static_cast<int64_t>(in.U64());
  r.mstrTestID = in.Text();
  r.mvarNotes = DecodeVariant(in);
  r.mvarEmail = DecodeVariant(in);
  r.mvarPager = DecodeVariant(in);
  r.mblnMailEnabled = in.U8() != 0;
  for (std::string* text :
       {&r.mstrSubject, &r.mstrMailFrom, &r.mstrProfile, &r.mstrSMTPServer, &r.mstrNotifyServer,
        &r.callback_bus, &r.callback_path, &r.mstrLastLogged})
    *text = in.Text();
  if (layout >= 2) {
    const bool has_uid = in.U8() != 0;
    const uint32_t uid = in.U32();
    if (has_uid) r.callback_uid = uid;
  }
  if (layout >= 3) {
    r.tries = static_cast<int32_t>(in.U32());
    r.next_try_unix_ms = static_cast<int64_t>(in.U64());
    r.earlier_failures = in.Text();
    for (int32_t* value : {&r.attempts, &r.first_retry_s, &r.max_delay_s, &r.give_up_after_s})
      *value = static_cast<int32_t>(in.U32());
    if (layout == kRetryLayout && r.tries < 1) throw ByteCodecError("a retry record without a try");
  }
  if (layout >= 4) {
    r.failed = true;
    r.failed_id = in.Text();
    r.failed_unix_ms = static_cast<int64_t>(in.U64());
    r.failed_reasons = in.Text();
  }
  if (!in.AtEnd()) throw ByteCodecError("trailing bytes after the request");
  return r;
}

std::string AcceptedTime(const RequestRecord& record) { return UtcTime(record.accepted_unix_ms); }

bool FailedExpired(const RequestRecord& record, int64_t now_unix_ms, int keep_days) {
  return record.failed && now_unix_ms - record.failed_unix_ms >= int64_t{keep_days} * 86'400'000;
}

std::string UtcTime(int64_t unix_ms) {
  const auto seconds = static_cast<std::time_t>(unix_ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace qz
