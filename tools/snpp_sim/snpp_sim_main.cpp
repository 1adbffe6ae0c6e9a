// qznotes-snpp-sim: an SNPP gateway on the loopback interface that answers
// the way its script says and records every line it receives.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "snpp_sim/sim_record.h"
#include "snpp_sim/sim_script.h"
#include "snpp_sim/sim_session.h"

namespace {

constexpr const char* kHelp = R"txt(Usage: qznotes-snpp-sim --port N [OPTIONS]

An SNPP gateway for tests and demonstrations. Listens on the loopback
interface only, greets with "220 SNPP Gateway Ready" and answers PAGE,
MESSAGE and SEND with "250 Pager ID Accepted", "250 Message OK" and
"250 Message Sent OK" (MESS, QUIT and other commands get RFC 1861 answers),
unless a script says otherwise.

  --port N          port to listen on; 0 picks a free one
  --listen ADDR     127.0.0.1 (default) or ::1
  --script FILE     how connections behave (see below)
  --record FILE     write every line received, with timings, to FILE
  --port-file FILE  write the port listened on to FILE once listening
  --exit-after S    stop by itself after S seconds (default: run until
                    SIGTERM or SIGINT)
  --fail-first N    the first N connections are reset at once, without a
                    greeting (a gateway that is down for a while)
  --unix-times      record times as Unix milliseconds of the wall clock
  --help            this text

The port listened on is also printed on standard output:
"listening on 127.0.0.1 port N".

Script: sections "[*]" (every connection) and "[N]" (connection N, counted
from 1, on top of "[*]"), one directive a line, "#" starts a comment.
Texts take the escapes \r \n \t \\ \0 \xHH; a reply gets CR LF appended.
  greeting TEXT | none      the greeting (none: say nothing)
  greeting-delay MS         wait before greeting
  flood BYTES               after the greeting, send BYTES bytes of "x"
                            without a line end
  reply CMD TEXT | none     the reply to command CMD (PAGE, MESSAGE, MESS,
                            SEND, QUIT, or * for any other); TEXT may hold
                            two replies: 250 Pager ID Accepted\r\n250 Message OK
  delay CMD MS              wait before replying to CMD
  split CMD MS              send the reply to CMD in two segments MS apart
  reset CMD                 reset the connection (RST) instead of replying
  close-on CMD              close the connection instead of replying
  close-after N             close the connection after the Nth SEND reply

Record lines are tab-separated: connection, milliseconds since the
connection was accepted, kind (open, recv, recv-lf, partial, sent, reset,
close) and the text with the same escapes (bytes outside ASCII as \xHH).
)txt";

struct Options {
  int port = -1;
  std::string listen = "127.0.0.1";
  std::string script;
  std::string record;
  std::string port_file;
  int exit_after = 0;
  int fail_first = 0;
  bool unix_times = false;
};

int Usage(const std::string& why) {
  std::cerr << "qznotes-snpp-sim: " << why << "\n(qznotes-snpp-sim --help)\n";
  return 2;
}

bool ReadNumber(const std::string& text, int low, int high, int& out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

qz::UniqueFd Listen(const std::string& address, int port, int& bound) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (address == "::1") {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(static_cast<uint16_t>(port));
    a6->sin6_addr = in6addr_loopback;
    length = sizeof *a6;
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *a4;
  }
  qz::UniqueFd fd(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  if (fd) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(fd.get(), 64) != 0)
    return {};
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  bound = ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return fd;
}

// Written beside the target and renamed, so a reader never sees half a number.
bool WritePortFile(const std::string& path, int port) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary);
    out << port << '\n';
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--port") {
      if (!value(v) || !ReadNumber(v, 0, 65535, o.port)) return Usage("--port takes 0 to 65535");
    } else if (arg == "--listen") {
      if (!value(o.listen) || (o.listen != "127.0.0.1" && o.listen != "::1"))
        return Usage("--listen takes 127.0.0.1 or ::1 (loopback only)");
    } else if (arg == "--script") {
      if (!value(o.script)) return Usage("--script needs a file");
    } else if (arg == "--record") {
      if (!value(o.record)) return Usage("--record needs a file");
    } else if (arg == "--port-file") {
      if (!value(o.port_file)) return Usage("--port-file needs a file");
    } else if (arg == "--exit-after") {
      if (!value(v) || !ReadNumber(v, 1, 86400, o.exit_after))
        return Usage("--exit-after takes 1 to 86400 seconds");
    } else if (arg == "--fail-first") {
      if (!value(v) || !ReadNumber(v, 0, 1000000, o.fail_first))
        return Usage("--fail-first takes 0 to 1000000 connections");
    } else if (arg == "--unix-times") {
      o.unix_times = true;
    } else {
      return Usage("unknown argument " + arg);
    }
  }
  if (o.port < 0) return Usage("--port is required");

  qz::snppsim::Script script;
  if (!o.script.empty()) {
    std::ifstream in(o.script);
    if (!in) return Usage("cannot read " + o.script);
    std::stringstream text;
    text << in.rdbuf();
    try {
      script = qz::snppsim::Script::Parse(text.str());
    } catch (const std::exception& e) {
      return Usage(e.what());
    }
  }
  const qz::snppsim::Record record(o.record, o.unix_times);
  if (!record.ok()) return Usage("cannot write " + o.record);

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before any thread starts
  qz::UniqueFd signals(::signalfd(-1, &stop, SFD_CLOEXEC));

  int bound = 0;
  qz::UniqueFd listener = Listen(o.listen, o.port, bound);
  if (!listener)
    return Usage("cannot listen on " + o.listen + " port " + std::to_string(o.port) + ": " +
                 std::strerror(errno));
  std::cout << "listening on " << o.listen << " port " << bound << std::endl;
  if (!o.port_file.empty() && !WritePortFile(o.port_file, bound))
    return Usage("cannot write " + o.port_file);

  using Clock = std::chrono::steady_clock;
  const auto give_up = Clock::now() + std::chrono::seconds(o.exit_after);
  int connections = 0;
  for (;;) {
    int wait_ms = -1;
    if (o.exit_after > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
      if (left.count() <= 0) break;
      wait_ms = static_cast<int>(left.count());
    }
    pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, wait_ms);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    int client = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++connections;
    qz::snppsim::Behaviour behaviour = script.ForConnection(connections);
    behaviour.refuse = connections <= o.fail_first;
    std::thread(qz::snppsim::ServeConnection, client, connections, std::move(behaviour),
                std::cref(record))
        .detach();
  }
  // Connections still open end with the process; the record is written
  // line by line, so there is nothing left to flush.
  std::_Exit(0);
}
