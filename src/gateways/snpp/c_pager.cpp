#include "gateways/snpp/c_pager.h"

#include <algorithm>
#include <optional>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "automation/variant.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "gateways/snpp/ansi_text.h"
#include "gateways/snpp/snpp_reply.h"
#include "gateways/snpp/snpp_timing.h"

namespace qz {
namespace {

constexpr std::string_view kPagerClassSource = kPagerSource;
// Longest RFC 1861 reply line kept; the rest of a longer line is dropped.
constexpr size_t kMaxRfcLine = 4096;

bool IsFailureCode(int code) { return code >= 400 && code <= 599; }

}  // namespace

cPager::cPager() : cPager(std::make_unique<SnppSocket>()) {}

cPager::cPager(std::unique_ptr<SnppSocket> socket) : mySocket(std::move(socket)) {
  try {
    BindSocket();
  } catch (...) {
    mySocket.reset();  // creation ignores errors; the object then has no socket
  }
}

cPager::~cPager() {
  try {
    if (mySocket) CloseConnection();
  } catch (...) {
    // The socket is closed with the object anyway; a destructor must not throw.
  }
}

void cPager::BindSocket() {
  if (!mySocket) return;
  mySocket->OnDataArrival([this](int32_t bytes) { mySocket_DataArrival(bytes); });
  mySocket->OnError(
      [this](int32_t number, std::string_view text) { mySocket_Error(number, text); });
}

void cPager::Timeout(std::string_view value) { mstrTimeout = TimeoutSetting(value); }

void cPager::Protocol(std::string_view value) { rfc1861_ = AsciiCaseEqual(value, kSnppRfc1861); }

void cPager::CloseConnection() {
  // An RFC 1861 server is told that we are leaving; the exact dialogue never says QUIT.
  if (rfc1861_ && mySocket->state() == SnppSocket::kConnected) {
    std::string quit = "QUIT";
    QueryServer(quit);
  }
  mySocket->Close();
  rfc_line_.clear();
}

bool cPager::Connect() {
  try {
    mblnDone = false;
    mblnGreeted = false;
    if (!mySocket) {
      mstrStatus = "Failed to create Instance of SNPP Client Socket";
      return false;
    }
    if (mySocket->state() != SnppSocket::kClosed) CloseConnection();
    mySocket->SetRemoteHost(mstrHostName);
    mySocket->SetRemotePort(Variant(mstrPort).ToInt32());
    rfc_step_ = RfcStep::kGreeting;
    mySocket->Connect();
    Wait(ConnectDeadline(ClockSeconds()));
    if (mySocket->state() != SnppSocket::kConnected) {
      mstrStatus = "Failure to Connect to SNPP Server at " + mstrHostName;
      return false;
    }
    if (!mblnGreeted) {
      mstrStatus = "Wrong Gateway. SNPP Server is not listening on port " + mstrPort;
      return false;
    }
    return true;
  } catch (...) {
    CaughtError error = CurrentError();
    mstrStatus = error.description;
    gsubDisplayError(error, kPagerClassSource, "Connect");
    return false;
  }
}

bool cPager::SendPage(std::string_view lstrPage, std::string_view lstrMessage) {
  try {
    mstrMessage = lstrMessage;
    failure_kind_ = FailureKind::kTransient;
    mblnDone = false;
    mblnSent = false;
    if (!mySocket) throw RunTimeError(kErrObjectNotSet, std::string(kPagerClassSource));
    if (mySocket->state() != SnppSocket::kConnected) {
      mstrStatus = "Connection error";
      return mblnSent;
    }
    rfc_step_ = RfcStep::kPage;
    std::string command = "PAGE " + std::string(lstrPage);
    QueryServer(command);
    Wait(SendPageDeadline(ClockSeconds(), mstrTimeout));
  } catch (...) {
    gsubDisplayError(kPagerClassSource, "SendPage");
  }
  return mblnSent;
}

bool cPager::IsSocketConnected() {
  try {
    return mySocket && mySocket->state() == SnppSocket::kConnected;
  } catch (...) {
    return false;
  }
}

void cPager::Wait(double deadline) {
  // The clock is read before the flag, so a deadline already past returns
  // without delivering any event.
  while (ClockSeconds() < deadline && !mblnDone) mySocket->ProcessEvents(deadline);
}

void cPager::QueryServer(std::string& command) {
  try {
    // A line break inside an identifier must never start a second command line.
    std::replace_if(
        command.begin(), command.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    command += "\r\n";
    mySocket->SendData(ToAnsiBytes(command));
  } catch (...) {
    gsubDisplayError(kPagerClassSource, "QueryServer");
  }
}

void cPager::mySocket_DataArrival(int32_t bytesTotal) {
  try {
    std::string block;
    mySocket->GetData(block, bytesTotal);
    if (rfc1861_) {
      RfcBlockArrived(block);
    } else {
      ExactReplyArrived(block);
    }
  } catch (...) {
    gsubDisplayError(kPagerClassSource, "mySocket_DataArrival");
  }
}

void cPager::mySocket_Error(int32_t, std::string_view Description) {
  try {
    mstrStatus = Description;
    mblnDone = true;
  } catch (...) {
    // Only the copy of the text can fail (out of memory); the exchange then
    // ends on its timeout.
  }
}

void cPager::ExactReplyArrived(const std::string& block) {
  switch (MatchExactReply(block)) {
    case ExactReply::kGreeting:
      mblnGreeted = true;
      mblnDone = true;
      break;
    case ExactReply::kPagerAccepted: {
      std::string command = "MESSAGE " + mstrMessage;
      QueryServer(command);
      break;
    }
    case ExactReply::kMessageOk: {
      std::string command = "SEND";
      QueryServer(command);
      break;
    }
    case ExactReply::kMessageSent:
      mblnSent = true;
      mblnDone = true;
      break;
    case ExactReply::kNone:
      break;
  }
  mstrStatus = block;
}

void cPager::RfcBlockArrived(const std::string& block) {
  size_t start = 0;
  while (start < block.size()) {
    size_t end = block.find('\n', start);
    std::string_view piece = std::string_view(block).substr(
        start, end == std::string::npos ? std::string::npos : end + 1 - start);
    rfc_line_.append(piece.substr(0, kMaxRfcLine - std::min(kMaxRfcLine, rfc_line_.size())));
    if (end == std::string::npos) break;
    std::string line = std::move(rfc_line_);
    rfc_line_.clear();
    if (line.back() != '\n') line += '\n';  // its end was cut off with the overflow
    RfcLine(line);
    start = end + 1;
  }
}

void cPager::RfcLine(const std::string& line) {
  mstrStatus = line;
  std::optional<int> code = ReplyCode(line);
  if (!code) return;
  if (IsFailureCode(*code)) {
    failure_kind_ = SnppReplyKind(*code);
    if (rfc_step_ != RfcStep::kIdle) mblnDone = true;
    rfc_step_ = RfcStep::kIdle;
    return;
  }
  switch (rfc_step_) {
    case RfcStep::kGreeting:
      if (*code >= 200 && *code <= 299) {
        mblnGreeted = true;
        mblnDone = true;
        rfc_step_ = RfcStep::kIdle;
      }
      break;
    case RfcStep::kPage:
      if (*code == 250) {
        rfc_step_ = RfcStep::kMessage;
        std::string command = "MESS " + mstrMessage;
        QueryServer(command);
      }
      break;
    case RfcStep::kMessage:
      if (*code == 250) {
        rfc_step_ = RfcStep::kSend;
        std::string command = "SEND";
        QueryServer(command);
      }
      break;
    case RfcStep::kSend:
      if (*code == 250 || *code == 860 || *code == 960) {
        mblnSent = true;
        mblnDone = true;
        rfc_step_ = RfcStep::kIdle;
      }
      break;
    case RfcStep::kIdle:
      break;
  }
}

}  // namespace qz
