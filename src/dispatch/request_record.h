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
};

std::string EncodeRequest(const RequestRecord& record);
// When the request was accepted, "2026-12-07T04:10:56Z".
std::string AcceptedTime(const RequestRecord& record);
// Raises ByteCodecError for bytes EncodeRequest did not write.
RequestRecord DecodeRequest(std::string_view bytes);

}  // namespace qz
