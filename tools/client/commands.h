// What a qznotes command line asks for, as plain values: the bus to use and
// one command with its options. Built by ParseCommandLine, read by the
// runners; no behaviour, so safe to copy between threads.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>
#include "client/watch_command.h"
#include "contract/contract.h"

namespace qz::client {

enum class BusKind { kSession, kSystem, kAddress };

struct GlobalOptions {
  BusKind bus = BusKind::kSession;
  std::string address;  // with kAddress
  std::string destination = kBusName;
  bool json = false;
  // --url: the server's HTTP API instead of the bus (send, status,
  // test-gateway and watch only).
  std::string url;
  std::string token_file;  // the bearer token, one line, readable by its owner alone
  std::string cacert;      // the CA that signed the server's certificate, instead of the system's
  bool insecure = false;   // no certificate check at all; only when asked by name
};

struct Message {
  std::string text;
  std::vector<std::string> emails;
  std::vector<std::string> pagers;
};

struct Group {
  std::vector<Message> messages;
};

// Elements 0 to 4 of the mail options array.
struct MailOptions {
  std::string subject;
  std::string from;
  std::string profile;
  std::string smtp_server;
  bool prefer_smtp = false;
  bool given = false;  // any mail option on the command line
};

struct SendCommand {
  std::vector<Group> groups;
  MailOptions mail;
  std::string callback_host;  // non-empty: SendMessageCallBackEx names this host
  bool wait = false;
  int timeout_seconds = 30;
  // Without --wait: how long the object is kept after the answer. Releasing
  // it cancels a request the server has not dispatched yet, and the server
  // dispatches about one second after the request.
  int hold_seconds = 3;
  std::string test_id;  // empty: the runner makes one up
};

struct SettingsCommand {
  enum class Action { kShow, kGet, kSet };
  Action action = Action::kShow;
  std::string group;                     // kGet
  std::string section;                   // kSet
  std::vector<std::string> assignments;  // kSet: "KEY=VALUE"
  bool force = false;                    // kSet: write even what the server would never read
};

struct CallCommand {
  std::string class_name = "cNotify";
  std::string operation;  // a name, or a dispatch identifier
  std::vector<std::string> arguments;
  bool list = false;  // --list: print the class's operations instead of calling one
};

struct TestGatewayCommand {
  int index = 0;
  std::string number;
  int timeout_seconds = 0;  // 0: wait as long as the gateway takes
};

struct ProfilesCommand {
  enum class Action { kList, kSet, kRemove };
  Action action = Action::kList;
  std::string name;       // kSet, kRemove
  std::string transport;  // kSet: an smtp:// or smtps:// URL, or "sendmail"
  std::string from;       // kSet: empty leaves From out
};

// Works on the program folder's files, not the bus: the daemon may be down.
// Only the failed requests' retry and clear ask the running daemon.
struct JournalCommand {
  enum class Action { kList, kClear, kRetry };
  Action action = Action::kList;
  bool system = false;                // the system daemon's folder (--system)
  std::optional<std::string> folder;  // --folder
  bool failed = false;                // --failed: the requests that gave up
  std::string id;                     // kRetry: one failed request
  bool all = false;                   // kRetry --all
};

// The HTTP API's bearer tokens in the program folder's QzTokens.ini; like
// the journal, works on the file, not the bus.
struct TokensCommand {
  enum class Action { kList, kAdd, kRemove };
  Action action = Action::kList;
  std::string name;                   // kAdd, kRemove
  unsigned rights = 0;                // kAdd: --rights
  bool system = false;                // the system daemon's folder (--system)
  std::optional<std::string> folder;  // --folder
};

// What the server is doing now (its Status answer).
struct StatusCommand {};

struct VersionCommand {};

struct HelpCommand {
  std::string topic;  // "" or a command's name
};

using Command = std::variant<HelpCommand, VersionCommand, SendCommand, SettingsCommand, CallCommand,
                             TestGatewayCommand, ProfilesCommand, WatchCommand, JournalCommand,
                             StatusCommand, TokensCommand>;

struct Invocation {
  GlobalOptions global;
  std::string command_name;  // the command table's name; empty for help and --version
  Command command;
};

}  // namespace qz::client
