#include "gateways/mail/mail_message.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "support/mime_decode.h"

namespace qz {
namespace {

using testing::MailHeader;

// The lines of a mail's head, each without its CR LF.
std::vector<std::string> HeadLines(const std::string& mail) {
  std::vector<std::string> lines;
  for (size_t at = 0, next; (next = mail.find("\r\n", at)) > at && next != mail.npos; at = next + 2)
    lines.push_back(mail.substr(at, next - at));
  return lines;
}
std::string Body(const std::string& mail) { return mail.substr(mail.find("\r\n\r\n") + 4); }

const MailAddress kFrom{"QzNotes", "notes@example.org"}, kTo{"", "ops@example.org"};

MailMessage Message(std::string subject = "Disk full", std::string body = "Volume /srv full.") {
  return {kFrom, {kTo}, {}, std::move(subject), std::move(body)};
}

TEST(AddrSpecTest, AcceptsWhatSmtpCanCarryAndNothingElse) {
  // A local part of 64 octets and 254 in all are the most.
  const std::string valid[] = {"first.last@example.org", "!#$%&'*+-/=?^_`{|}~@example.org",
                               "\"a\\\"b @c\"@example.org", "x@[IPv6:::1]",
                               std::string(64, 'l') + "@example.org"};
  const std::string bad_local[] = {std::string(65, 'l') + "@example.org", "plain",
                                   "a..b@example.org", ".a@example.org",
                                   "j\xC3\xBCrgen@example.org"};
  const std::string bad_domain[] = {"a@", "a@b@example.org", "a@example..org", "a@example-.org",
                                    "a@" + std::string(64, 'd') + ".org"};
  const std::string bad_other[] = {"\"open@example.org", "\"a\"b@example.org", "\"a\r\nb\"@x.org",
                                   "a@[1.2.3.4", "a@" + std::string(252, 'b')};
  for (const std::string& address : valid) EXPECT_TRUE(IsAddrSpec(address)) << address;
  for (const auto* list : {&bad_local, &bad_domain, &bad_other})
    for (const std::string& address : *list) EXPECT_FALSE(IsAddrSpec(address)) << address;
}

TEST(AddrSpecTest, ParsesTheMailboxFormsAdministratorsWrite) {
  const std::pair<const char*, const char*> cases[] = {
      // text, "name|address"
      {"  notes@example.org ", "|notes@example.org"},
      {"<notes@example.org>", "|notes@example.org"},
      {"\"Ops, \\\"Night\\\"\" < ops@example.org >", "Ops, \"Night\"|ops@example.org"},
      {"broken <notes@example.org", "|broken <notes@example.org"},
  };
  for (const auto& [text, parts] : cases) {
    const MailAddress m = ParseMailbox(text);
    EXPECT_EQ(m.display_name + "|" + m.address, parts);
  }
}

TEST(ComposeMailTest, HeadersInOrderWithCrLfLineEnds) {
  MailMessage m = Message();
  m.to.push_back({"Night Shift", "night@example.org"});
  m.cc = {{"", "dba@example.org"}};
  const std::string mail = ComposeMail(m);
  EXPECT_FALSE(std::regex_search(mail, std::regex("[^\r]\n|\r[^\n]")));
  std::vector<std::string> head = HeadLines(mail);
  ASSERT_EQ(head.size(), 9u);
  const std::regex date(R"(Date: \w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d [+-]\d{4})");
  EXPECT_TRUE(std::regex_match(head[0], date)) << head[0];
  EXPECT_TRUE(std::regex_match(head[1], std::regex(R"(Message-ID: <[0-9a-f.]+@example\.org>)")))
      << head[1];
  EXPECT_NE(HeadLines(ComposeMail(m))[1], head[1]);
  EXPECT_EQ(std::vector(head.begin() + 2, head.end()),
            (std::vector<std::string>{
                "From: QzNotes <notes@example.org>",
                "To: ops@example.org, Night Shift <night@example.org>", "Cc: dba@example.org",
                "Subject: Disk full", "MIME-Version: 1.0",
                "Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: 7bit"}));
  EXPECT_EQ(Body(mail), "Volume /srv full.\r\n");
}

TEST(ComposeMailTest, NamesAndSubjectsPlainQuotedFoldedOrEncodedInWholeCharacters) {
  const std::string words =
      "a subject that is long enough to be folded once, before one of the blanks in it";
  // Field, text, header, lines. "To": the text is the display name of ops@example.org.
  const std::tuple<const char*, std::string, std::string, size_t> cases[] = {
      {"To", "", "ops@example.org", 1},
      {"To", "Ops, Night", "\"Ops, Night\" <ops@example.org>", 1},
      {"To", "Say \"hi\" \\ bye", "\"Say \\\"hi\\\" \\\\ bye\" <ops@example.org>", 1},
      {"To", "J\xC3\xBCrgen", "=?UTF-8?B?SsO8cmdlbg==?= <ops@example.org>", 1},
      {"To", "=?UTF-8?B?bad?=", "=?UTF-8?B?PT9VVEYtOD9CP2JhZD89?= <ops@example.org>", 1},
      {"Subject", "tab\there", "tab\there", 1},
      {"Subject", words, words, 2},
      {"Subject", "Temp\xC3\xA9rature 30\xC2\xB0", "=?UTF-8?B?VGVtcMOpcmF0dXJlIDMwwrA=?=", 1},
      {"Subject", "a\xE2\x82\x62\xFF", "=?UTF-8?B?Ye+/ve+/vWLvv70=?=", 1},  // U+FFFD for each
      // Words of at most 45 bytes; the four bytes of U+1F4DF would straddle the first.
      {"Subject", std::string(43, 'a') + "\xF0\x9F\x93\x9F" + std::string(60, 'b'),
       "=?UTF-8?B?YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYQ==?= "
       "=?UTF-8?B?8J+Tn2JiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJiYmJi?= "
       "=?UTF-8?B?YmJiYmJiYmJiYmJiYmJiYmJiYg==?=",
       3},
  };
  for (const auto& [field, text, header, folded] : cases) {
    MailMessage m = Message(text);
    if (field[0] == 'T') m = {kFrom, {{text, "ops@example.org"}}, {}, "s", "b"};
    const std::string mail = ComposeMail(m);
    EXPECT_EQ(MailHeader(mail, field), header);
    size_t lines = 0;
    for (const std::string& line : HeadLines(mail)) {
      if (line.starts_with(field + std::string(": ")) || (lines > 0 && line.starts_with(" ")))
        ++lines;
      // Lines of 78 at most, folded encoded words 76; an encoded field's first line is
      // bounded only by its word of 75 and the 998 of any line.
      const bool first_encoded = line.starts_with(field + std::string(": =?"));
      EXPECT_LE(line.size(), first_encoded ? 998u : line.starts_with(" =?") ? 76u : 78u) << line;
    }
    EXPECT_EQ(lines, folded) << text;
  }
}

TEST(ComposeMailTest, BodiesGoAsSevenBitOrQuotedPrintable) {
  const std::tuple<std::string, const char*, std::string> cases[] = {
      {"one\ntwo\r\nthree\rend", "7bit", "one\r\ntwo\r\nthree\r\nend\r\n"},
      {"30\xC2\xB0 \xE2\x82\xAC", "quoted-printable", "30=C2=B0 =E2=82=AC\r\n"},
      {std::string("a\0b\x1B c", 6), "quoted-printable", "a=EF=BF=BDb=1B c\r\n"},
      {"a=b \nc\t\n  ", "quoted-printable", "a=3Db=20\r\nc=09\r\n =20\r\n"},
      // 76 characters fit a line; one more, and it is broken at 75 with a soft break.
      {"\xC3\xA9" + std::string(70, 'x'), "quoted-printable",
       "=C3=A9" + std::string(70, 'x') + "\r\n"},
      {"\xC3\xA9" + std::string(71, 'x'), "quoted-printable",
       "=C3=A9" + std::string(69, 'x') + "=\r\nxx\r\n"},
      // A line of 998 may go as it is; one more and it is broken.
      {std::string(998, 'y'), "7bit", std::string(998, 'y') + "\r\n"},
      {std::string(999, 'y'), "quoted-printable", ""},
  };
  for (const auto& [body, encoding, sent] : cases) {
    const std::string mail = ComposeMail(Message("s", body));
    EXPECT_EQ(MailHeader(mail, "Content-Transfer-Encoding"), encoding) << body;
    if (sent.empty()) {  // lines of 76 characters at most
      EXPECT_FALSE(std::regex_search(Body(mail), std::regex("[^\r\n]{77}")));
    } else {
      EXPECT_EQ(Body(mail), sent);
    }
  }
}

TEST(ComposeMailTest, RefusesHeaderInjectionAndBadAddresses) {
  const MailAddress cc{"", "dba@example.org"};
  const std::string breaks = " holds a line break or NUL", bad = " is not a valid e-mail address";
  const std::tuple<MailAddress, MailAddress, MailAddress, std::string, std::string> cases[] = {
      {kFrom, kTo, cc, "Alert\r\nBcc: v@x.org", "the subject" + breaks},
      {{"E\nBcc: v@x.org", "n@x.org"}, kTo, cc, "s", "the sender display name" + breaks},
      {kFrom, {"", "o@x.org\r\nBcc: v@x.org"}, cc, "s", "a To recipient address" + breaks},
      {kFrom, {"", ""}, cc, "s", "a To recipient address \"\"" + bad},
      {{"", "notes"}, kTo, cc, "s", "the sender address \"notes\"" + bad},
      {kFrom, kTo, {"", "Ops <c@x.org>"}, "s", "a Cc recipient address \"Ops <c@x.org>\"" + bad},
  };
  for (const auto& [from, to, copy, subject, reason] : cases) {
    try {
      ComposeMail({from, {to}, {copy}, subject, "b"});
      ADD_FAILURE() << reason << ": composed";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), reason);
    }
  }
}

}  // namespace
}  // namespace qz
