// The TCP client socket of one cPager, with the members and events of the
// socket control it stands in for: states 0 (closed) to 9 (error), connect,
// close, send bytes, read waiting bytes as text, and data-arrival and error
// events. Events are delivered only inside ProcessEvents, on the owner's
// thread, which blocks in poll(2) on this socket and a deadline only.
// Owned by one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gateways/snpp/host_lookup.h"
#include "platform/unique_fd.h"

namespace qz {

class SnppSocket {
 public:
  enum State : int16_t {
    kClosed = 0,
    kResolvingHost = 4,
    kConnecting = 6,
    kConnected = 7,
    kClosing = 8,  // the peer closed its side
    kError = 9,
  };

  // The most one data-arrival event hands over; more waiting bytes arrive
  // as further events.
  static constexpr size_t kMaxBlock = 64 * 1024;

  using DataArrival = std::function<void(int32_t bytes_total)>;
  using ErrorEvent = std::function<void(int32_t number, std::string_view description)>;

  SnppSocket() = default;
  ~SnppSocket() = default;
  SnppSocket(const SnppSocket&) = delete;
  SnppSocket& operator=(const SnppSocket&) = delete;

  void OnDataArrival(DataArrival handler) { on_data_ = std::move(handler); }
  void OnError(ErrorEvent handler) { on_error_ = std::move(handler); }

  // The state; a connected socket whose peer has closed reads as kClosing
  // (its unread data stays for the next events).
  int16_t state();
  void Close();
  void SetRemoteHost(std::string_view host) { host_ = host; }
  // Raises 380 "Invalid property value" outside 1 to 65535.
  void SetRemotePort(int32_t port);
  // Starts connecting; the outcome arrives as events. Raises 40020 unless closed.
  void Connect();
  // Queues the bytes and sends what the socket takes now (never SIGPIPE).
  // Raises 40006 unless connected.
  void SendData(std::string_view bytes);
  // Moves up to `max_length` received bytes into `text`, as valid UTF-8.
  void GetData(std::string& text, int32_t max_length);
  // Delivers pending events, or waits for the next one until `deadline`
  // (ClockSeconds), whichever comes first.
  void ProcessEvents(double deadline);

 private:
  void StartNextAddress();
  void ConnectFinished();
  void ReadInput();
  void FlushOutput();
  void Fail(int error_number);
  void Fail(int32_t number, std::string description);

  std::string host_;
  int32_t port_ = 0;
  State state_ = kClosed;
  UniqueFd fd_;
  std::unique_ptr<HostLookup> lookup_;
  std::vector<SocketAddress> addresses_;
  size_t next_address_ = 0;
  bool input_open_ = false;  // until the peer's end of stream was read
  std::string inbox_;
  std::string outbox_;
  bool error_pending_ = false;
  int32_t error_number_ = 0;
  std::string error_text_;
  DataArrival on_data_;
  ErrorEvent on_error_;
};

}  // namespace qz
