// What qznotes does before it reaches a remote server: which command lines
// may use --url, which token files it refuses, the request body it builds
// from `send` and how it splits the server's event stream.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "client/api_json.h"
#include "client/command_line.h"
#include "client/http_api_client.h"
#include "client/token_file.h"
#include "support/temp_folder.h"

namespace qz::client {
namespace {

ParsedCommandLine ParsedRemote(const std::string& line) {
  char** argv = nullptr;
  EXPECT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
  const std::vector<std::string> words(argv, argv + g_strv_length(argv));
  g_strfreev(argv);
  return ParseCommandLine(std::vector<std::string_view>(words.begin(), words.end()));
}

TEST(ClientRemote, OnlyTheRemoteCommandsTakeUrlAndItsOptionsNeedIt) {
  const std::string kUrl = "--url https://h:8443 --token-file t ";
  const std::pair<std::string, std::string> cases[] = {
      {kUrl + "send -m x -p 5", ""},
      {"status --json " + kUrl + "--cacert ca.pem", ""},
      {kUrl + "--insecure watch --count 1", ""},
      {kUrl + "journal", "journal is D-Bus only: --url reaches send, test-gateway, watch, status"},
      {kUrl + "settings show",
       "settings is D-Bus only: --url reaches send, test-gateway, watch, status"},
      {kUrl + "--system status", "--url replaces the bus options (--system, --address, --dest)"},
      {kUrl + "--dest org.x.Y status",
       "--url replaces the bus options (--system, --address, --dest)"},
      {"--url h:8443 --token-file t status",
       "--url takes an https:// (or http://) URL, not h:8443"},
      {"--url https://h status", "--url needs --token-file FILE"},
      {"--cacert ca.pem status", "--token-file, --cacert and --insecure go with --url"},
      {kUrl + "--cacert ca.pem --insecure status", "--cacert and --insecure exclude each other"},
  };
  for (const auto& [line, error] : cases) EXPECT_EQ(ParsedRemote(line).error, error) << line;
}

TEST(ClientRemote, TokenFileIsOneLineReadableByItsOwnerAlone) {
  const testing::TempFolder folder;
  struct Case {
    const char* text;
    mode_t mode;
    std::string read;  // the token, or the refusal with @ for the file's path
  };
  const Case cases[] = {
      {"s3cret\n", 0600, "s3cret"},
      {"s3cret\r\n", 0400, "s3cret"},
      {"s3cret\n", 0640,
       "the token file @ can be read by others (mode 0640); make it private: chmod 600 @"},
      {"s3cret\n", 0604,
       "the token file @ can be read by others (mode 0604); make it private: chmod 600 @"},
      {"", 0600, "the token file @ is empty"},
      {"one\ntwo\n", 0600, "the token file @ must hold the token alone on one line"},
      {"one two", 0600, "the token file @ must hold the token alone on one line"},
  };
  for (const Case& c : cases) {
    const std::string path = folder.Write("token", c.text);
    chmod(path.c_str(), c.mode);
    const TokenRead got = ReadTokenFile(path);
    std::string want = c.read;
    for (size_t at; (at = want.find('@')) != std::string::npos;) want.replace(at, 1, path);
    EXPECT_EQ(got.error.empty() ? got.token : got.error, want) << std::oct << c.mode;
  }
  EXPECT_TRUE(ReadTokenFile(folder.File("none")).error.starts_with("cannot read the token file"));
}

TEST(ClientRemote, RequestBodyListsEachMessagesRecipientsInParallel) {
  const std::pair<std::string, std::string> cases[] = {
      {"send --test-id T -m a -p 1 -p 2 -m b -e x@y -s S -g -m c",
       R"({"testId":"T","groups":[{"messages":["a","b"],"emails":[[],["x@y"]],"pagers":[["1","2"],[]]},)"
       R"({"messages":["c"],"emails":[[]],"pagers":[[]]}],"subject":"S","mailFrom":"","profile":"",)"
       R"("smtpServer":""})"},
      {"send --test-id T -m \"say \\\"hi\\\"\" -p 1 --callback-host https://m.x/cb",
       R"({"testId":"T","groups":[{"messages":["say \"hi\""],"emails":[[]],"pagers":[["1"]]}],)"
       R"("callback":"https://m.x/cb"})"},
  };
  for (const auto& [line, body] : cases) {
    const ParsedCommandLine parsed = ParsedRemote(line);
    const auto& send = std::get<SendCommand>(parsed.invocation.command);
    EXPECT_EQ(RequestJson(send, send.test_id), body) << line;
  }
}

TEST(ClientRemote, EventStreamSplitsAtBlankLinesWhereverChunksEnd) {
  EventReader reader;
  for (std::string_view chunk :
       {": keep-alive\n\nevent: deliv", "ered\r\ndata: {\"a\":\r\ndata:1}\r",
        "\n\r\nid: 3\n\ndata: x\n\nevent: delivered\n"})
    reader.Feed(chunk);
  std::vector<std::string> got;
  while (std::optional<ServerEvent> e = reader.Take()) got.push_back(e->name + "|" + e->data);
  EXPECT_EQ(got, (std::vector<std::string>{"delivered|{\"a\":\n1}", "message|x"}));
}

}  // namespace
}  // namespace qz::client
