// `qznotes tokens`: the HTTP API's bearer tokens, edited in the program
// folder's QzTokens.ini directly. A new token is printed once; the file
// keeps only its hash.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "client/daemon_folder.h"
#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/user_report.h"
#include "config/program_folder.h"
#include "http/token_store.h"
#include "platform/atomic_replace.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/holders.h"
#include "platform/random_bytes.h"

namespace qz::client {
namespace {

constexpr size_t kTokenBytes = 32;

std::string TokensFolder(const GlobalOptions& global, const TokensCommand& command) {
  if (command.folder) return ProgramFolder(*command.folder);
  if (command.system) return QZ_SYSTEM_FOLDER;
  if (std::optional<std::string> running = RunningDaemonFolder(global)) return *running;
  return ProgramFolder(std::nullopt);
}

// 32 bytes from the kernel's generator, base64url without padding.
std::optional<std::string> NewToken() {
  std::array<unsigned char, kTokenBytes> bytes{};
  if (!FillRandom(bytes)) return std::nullopt;
  CharPtr encoded(g_base64_encode(bytes.data(), bytes.size()));
  std::string token;
  for (const char* c = encoded.get(); *c && *c != '='; ++c)
    token += *c == '+' ? '-' : *c == '/' ? '_' : *c;
  return token;
}

std::string RightsJson(unsigned rights) {
  std::string json;
  const std::string text = RightsText(rights);
  for (size_t start = 0; start < text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    json += (json.empty() ? "" : ",") + Quoted(text.substr(start, comma - start));
    start = comma + 1;
  }
  return "[" + json + "]";
}

ExitStatus TokensProblem(Console console, const GlobalOptions& global, ExitStatus exit,
                         std::string_view message) {
  ReportProblem(console, global.json, exit == kExitFailed ? "refused" : "file", message);
  return exit;
}

}  // namespace

ExitStatus RunTokens(GDBusConnection*, const GlobalOptions& global, const TokensCommand& command,
                     Console console) {
  std::string folder;
  try {
    folder = TokensFolder(global, command);
  } catch (const std::exception& e) {
    return TokensProblem(console, global, kExitUsage, e.what());
  }
  const std::string file = folder + "/" + std::string(kTokensFileName);
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return TokensProblem(console, global, kExitUsage, "cannot open the folder " + folder);
  Status status;
  // Writers of the file take turns; a reader needs no lock (replacements are whole).
  const bool writes = command.action != TokensCommand::Action::kList;
  std::optional<FileLock> lock =
      writes ? FileLock::Acquire(dir.get(), kTokensFileName, kLockWait, status) : std::nullopt;
  if (writes && !lock)
    return TokensProblem(console, global, kExitUsage, file + ": " + status.message());
  std::vector<TokenEntry> entries;
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) {
    if (std::optional<std::string> fault = TokenFileFault(st))
      ReportWarning(console, global.json, file + ": the daemon refuses it: " + *fault);
    std::optional<std::string> text = ReadFileText(file.c_str());
    if (!text) return TokensProblem(console, global, kExitUsage, "cannot read " + file);
    entries = ParseTokenFile(*text);
  }
  auto named = std::find_if(entries.begin(), entries.end(),
                            [&](const TokenEntry& e) { return e.name == command.name; });

  if (command.action == TokensCommand::Action::kList) {
    std::string json;
    for (const TokenEntry& e : entries) {
      if (global.json)
        json += (json.empty() ? "" : ",") + std::string("{\"name\":") + Quoted(e.name) +
                ",\"rights\":" + RightsJson(e.rights) + "}";
      else
        console.out << e.name << "  " << RightsText(e.rights) << "\n";
    }
    if (global.json) console.out << "[" << json << "]\n";
    return kExitOk;
  }

  std::string token;
  if (command.action == TokensCommand::Action::kAdd) {
    if (named != entries.end())
      return TokensProblem(console, global, kExitFailed,
                           "a token named " + command.name + " exists already (remove it first)");
    std::optional<std::string> made = NewToken();
    if (!made) return TokensProblem(console, global, kExitUsage, "no random bytes from the kernel");
    token = std::move(*made);
    entries.push_back({command.name, TokenHash(token), command.rights});
  } else {
    if (named == entries.end())
      return TokensProblem(console, global, kExitFailed, "no token named " + command.name);
    entries.erase(named);
  }
  struct stat like {};
  like.st_mode = S_IFREG | 0600;
  like.st_uid = geteuid();
  like.st_gid = getegid();
  status =
      ReplaceFileContentsAt(dir.get(), std::string(kTokensFileName), TokenFileText(entries), like);
  if (!status.ok())
    return TokensProblem(console, global, kExitUsage, file + ": " + status.message());

  if (command.action == TokensCommand::Action::kRemove) {
    if (global.json) console.out << "{\"removed\":" << Quoted(command.name) << "}\n";
    return kExitOk;
  }
  if (global.json)
    console.out << "{\"name\":" << Quoted(command.name)
                << ",\"rights\":" << RightsJson(command.rights) << ",\"token\":" << Quoted(token)
                << "}\n";
  else
    console.out << token << "\n";
  return kExitOk;
}

}  // namespace qz::client
