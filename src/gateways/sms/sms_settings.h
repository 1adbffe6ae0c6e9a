// The fourteen SMS gateway settings a cNotify object keeps between calls:
// loaded by mblnInitialiseSMS, read by mblnPagingEx. They start empty and
// keep their values until the next successful load. Owned by one cNotify
// object and touched only on its apartment's thread.
#pragma once

#include <string>

namespace qz {

// Fields in the object's own order.
struct SmsSettings {
  std::string mstrProtocol;
  std::string mstrIPAddress;
  std::string mstrConnect;
  std::string mstrAccess;
  std::string mstrMethod;
  std::string mstrHeader;
  std::string mstrAccept;
  std::string mstrResponse;
  std::string mstrSMSTo;
  std::string mstrCountryCode;
  std::string mstrSMSFrom;
  std::string mstrSMSMsg;
  std::string mstrSMSOffset;
  std::string mstrSMSTrailer;

  bool operator==(const SmsSettings&) const = default;
};

}  // namespace qz
