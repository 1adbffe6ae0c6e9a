// cPager: the SNPP client. Connect opens one TCP connection and waits up to
// about 5 s for the gateway's greeting; each SendPage sends PAGE and waits up
// to the timeout while the data-arrival handler carries the exchange on
// (MESSAGE, SEND). By default the four fixed reply texts are matched; the
// opt-in RFC 1861 mode reads reply codes instead and says QUIT at the end.
// Owned by one apartment; all calls and all socket events on its thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "gateways/delivery_parts.h"
#include "gateways/snpp/snpp_socket.h"

namespace qz {

inline constexpr std::string_view kSnppRfc1861 = "RFC1861";

class cPager {
 public:
  cPager();
  // Takes the socket to use; null plays a socket that could not be created.
  explicit cPager(std::unique_ptr<SnppSocket> socket);
  ~cPager();
  cPager(const cPager&) = delete;
  cPager& operator=(const cPager&) = delete;

  bool Connect();
  bool SendPage(std::string_view lstrPage, std::string_view lstrMessage);
  bool IsSocketConnected();

  // Internal properties, for the SNPP channel only.
  void HostName(std::string_view value) { mstrHostName = value; }
  void Port(std::string_view value) { mstrPort = value; }
  void Timeout(std::string_view value);
  std::string StatusText() const { return mstrStatus; }
  // "RFC1861" (any case) selects the RFC 1861 dialogue; anything else the exact one.
  void Protocol(std::string_view value);
  bool UsesRfc1861() const { return rfc1861_; }
  // How the last page that did not go is sorted. Only RFC 1861 replies say
  // whether to try again (4xx) or not (5xx); the fixed texts never do.
  FailureKind PageFailureKind() const { return failure_kind_; }

 private:
  enum class RfcStep { kGreeting, kPage, kMessage, kSend, kIdle };

  void BindSocket();
  void Wait(double deadline);
  void QueryServer(std::string& command);
  void mySocket_DataArrival(int32_t bytesTotal);
  void mySocket_Error(int32_t Number, std::string_view Description);
  void ExactReplyArrived(const std::string& block);
  void RfcBlockArrived(const std::string& block);
  void RfcLine(const std::string& line);
  void CloseConnection();

  std::string mstrPort;
  std::string mstrHostName;
  std::string mstrMessage;
  std::string mstrStatus;
  std::string mstrTimeout;
  bool mblnGreeted = false;
  bool mblnSent = false;
  bool mblnDone = false;
  std::unique_ptr<SnppSocket> mySocket;

  bool rfc1861_ = false;
  FailureKind failure_kind_ = FailureKind::kTransient;
  RfcStep rfc_step_ = RfcStep::kIdle;
  std::string rfc_line_;  // an RFC reply line still waiting for its line end
};

}  // namespace qz
