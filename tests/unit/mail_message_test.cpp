#include "gateways/mail/mail_message.h"

#include <gtest/gtest.h>

#include <regex>

#include "gateways/mail/mime_text.h"
#include "support/mime_decode.h"

namespace qz {
namespace {

using testing::DecodedHeader;
using testing::QpDecode;

struct Parts {
  std::string head, body;
  std::vector<std::string> lines;  // of the head, folds kept
  // Value of header `name`, unfolded.
  std::string Header(std::string_view name) const {
    std::string value;
    bool in = false;
    for (const std::string& line : lines) {
      if (in && (line.starts_with(" ") || line.starts_with("\t"))) {
        value += line;
        continue;
      }
      if (in) break;
      if (line.starts_with(std::string(name) + ": ")) {
        in = true;
        value = line.substr(name.size() + 2);
      }
    }
    return value;
  }
};

Parts Split(const std::string& mail) {
  Parts p;
  const size_t end = mail.find("\r\n\r\n");
  p.head = mail.substr(0, end);
  p.body = mail.substr(end + 4);
  for (size_t at = 0; at <= p.head.size();) {
    size_t next = p.head.find("\r\n", at);
    if (next == std::string::npos) next = p.head.size();
    p.lines.push_back(p.head.substr(at, next - at));
    at = next + 2;
  }
  return p;
}

MailMessage Message(std::string subject = "Disk full",
                    std::string body = "Volume /srv is at 99%.") {
  return {{"QzNotes", "notes@example.org"},
          {{"", "ops@example.org"}},
          {},
          std::move(subject),
          std::move(body)};
}

TEST(AddrSpecTest, AcceptsWhatSmtpCanCarryAndNothingElse) {
  const std::string local64(64, 'l'), local65(65, 'l'), local1000(1000, 'l');
  const struct {
    std::string address;
    bool valid;
  } cases[] = {
      {"a@b", true},
      {"first.last@example.org", true},
      {"user+tag@mail-1.example.co.uk", true},
      {"!#$%&'*+-/=?^_`{|}~@example.org", true},
      {"\"john doe\"@example.org", true},
      {"\"a\\\"b@c\"@example.org", true},  // quoted pair and an @ inside the quotes
      {"x@[127.0.0.1]", true},
      {"x@[IPv6:::1]", true},
      {local64 + "@example.org", true},
      {local65 + "@example.org", false},
      {local1000 + "@example.org", false},
      {"a@" + std::string(252, 'b'), false},  // 254 octets in all is the most
      {"", false},
      {"plain", false},
      {"@example.org", false},
      {"a@", false},
      {"a..b@example.org", false},
      {".a@example.org", false},
      {"a.@example.org", false},
      {"a b@example.org", false},
      {"a@b@example.org", false},
      {"a@exa mple.org", false},
      {"a@example..org", false},
      {"a@-example.org", false},
      {"a@example-.org", false},
      {"a@exam_ple.org", false},
      {"a@" + std::string(64, 'd') + ".org", false},
      {"\"open@example.org", false},
      {"\"a\"b@example.org", false},
      {"Name <a@example.org>", false},
      {"<a@example.org>", false},
      {"a@example.org\r\n", false},
      {"a\n@example.org", false},
      {"\"a\r\nb\"@example.org", false},
      {"j\xC3\xBCrgen@example.org", false},
      {"a@[1.2.3.4", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAddrSpec(c.address), c.valid) << c.address;
}

TEST(AddrSpecTest, ParsesTheMailboxFormsAdministratorsWrite) {
  const struct {
    const char* text;
    const char* name;
    const char* address;
  } cases[] = {
      {"notes@example.org", "", "notes@example.org"},
      {"  notes@example.org ", "", "notes@example.org"},
      {"<notes@example.org>", "", "notes@example.org"},
      {"QzNotes <notes@example.org>", "QzNotes", "notes@example.org"},
      {"\"Ops, Night \\\"Shift\\\"\" < ops@example.org >", "Ops, Night \"Shift\"",
       "ops@example.org"},
      {"broken <notes@example.org", "", "broken <notes@example.org"},
  };
  for (const auto& c : cases) {
    MailAddress m = ParseMailbox(c.text);
    EXPECT_EQ(m.display_name, c.name) << c.text;
    EXPECT_EQ(m.address, c.address) << c.text;
  }
}

TEST(ComposeMailTest, HeadersInOrderWithCrLfLineEnds) {
  MailMessage m = Message();
  m.to.push_back({"Night Shift", "night@example.org"});
  m.cc = {{"", "dba@example.org"}};
  const std::string mail = ComposeMail(m);
  EXPECT_EQ(mail.find('\n'), mail.find("\r\n") + 1);
  EXPECT_EQ(std::regex_search(mail, std::regex("[^\r]\n")), false);
  Parts p = Split(mail);
  std::vector<std::string> names;
  for (const auto& line : p.lines) names.push_back(line.substr(0, line.find(':')));
  EXPECT_EQ(names, (std::vector<std::string>{"Date", "Message-ID", "From", "To", "Cc", "Subject",
                                             "MIME-Version", "Content-Type",
                                             "Content-Transfer-Encoding"}));
  EXPECT_TRUE(std::regex_match(
      p.Header("Date"),
      std::regex(
          R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4})")))
      << p.Header("Date");
  EXPECT_TRUE(std::regex_match(p.Header("Message-ID"), std::regex(R"(<[0-9a-f.]+@example\.org>)")))
      << p.Header("Message-ID");
  EXPECT_EQ(p.Header("From"), "QzNotes <notes@example.org>");
  EXPECT_EQ(p.Header("To"), "ops@example.org, Night Shift <night@example.org>");
  EXPECT_EQ(p.Header("Cc"), "dba@example.org");
  EXPECT_EQ(p.Header("Subject"), "Disk full");
  EXPECT_EQ(p.Header("MIME-Version"), "1.0");
  EXPECT_EQ(p.Header("Content-Type"), "text/plain; charset=UTF-8");
  EXPECT_EQ(p.Header("Content-Transfer-Encoding"), "7bit");
  EXPECT_EQ(p.body, "Volume /srv is at 99%.\r\n");
  EXPECT_NE(ComposeMail(m).find(p.Header("Message-ID")), 0u);
  EXPECT_EQ(Split(ComposeMail(m)).Header("Message-ID") == p.Header("Message-ID"), false);
}

TEST(ComposeMailTest, DisplayNamesQuotedOrEncoded) {
  const struct {
    std::string name;
    std::string header;  // empty: encoded, checked by decoding
  } cases[] = {
      {"", "ops@example.org"},
      {"Ops Team", "Ops Team <ops@example.org>"},
      {"Ops, Night", "\"Ops, Night\" <ops@example.org>"},
      {"Say \"hi\" \\ bye", "\"Say \\\"hi\\\" \\\\ bye\" <ops@example.org>"},
      {"J\xC3\xBCrgen M\xC3\xBCller", ""},
      {"=?UTF-8?B?bad?=", ""},
      {std::string(120, 'x') + "\xE2\x82\xAC", ""},
  };
  for (const auto& c : cases) {
    MailMessage m = Message();
    m.to = {{c.name, "ops@example.org"}};
    const std::string to = Split(ComposeMail(m)).Header("To");
    if (!c.header.empty()) {
      EXPECT_EQ(to, c.header);
    } else {
      EXPECT_TRUE(to.ends_with(" <ops@example.org>")) << to;
      EXPECT_EQ(DecodedHeader(to), c.name + " <ops@example.org>") << to;
    }
  }
}

TEST(ComposeMailTest, SubjectsPlainFoldedOrEncoded) {
  const std::string words = "word " + std::string("0123456789 ") +
                            "and more words to pass the fold " +
                            "width of seventy-eight characters for sure";
  const struct {
    std::string subject;
    bool encoded;
  } cases[] = {
      {"Disk full", false},
      {"", false},
      {words, false},
      {"Temp\xC3\xA9rature \xE2\x82\xAC 30\xC2\xB0", true},
      {"looks =?like?= a word", true},
      {"tab\there", false},
      {"bell\x07", true},
      {std::string(100, '\xE2'), true},  // invalid UTF-8, repaired
      {std::string(33, 'a') + "\xF0\x9F\x93\x9F" + std::string(60, 'b'), true},
  };
  for (const auto& c : cases) {
    const Parts p = Split(ComposeMail(Message(c.subject)));
    const std::string value = p.Header("Subject");
    for (const auto& line : p.lines) EXPECT_LE(line.size(), 998u);
    if (c.encoded) {
      EXPECT_EQ(value.find_first_not_of(
                    "=?UTF-8?B?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/ "),
                std::string::npos)
          << value;
      EXPECT_EQ(DecodedHeader(value), ValidUtf8(c.subject));
      for (const auto& line : p.lines) {
        if (line.starts_with(" =?")) {
          EXPECT_LE(line.size(), 76u);
        }
      }
    } else {
      EXPECT_EQ(value, c.subject);
    }
  }
  // The long plain subject was folded into lines of at most 78 characters.
  const Parts folded = Split(ComposeMail(Message(words)));
  size_t subject_lines = 0;
  for (const auto& line : folded.lines) {
    if (line.starts_with("Subject: ") || (subject_lines > 0 && line.starts_with(" ")))
      ++subject_lines;
    EXPECT_LE(line.size(), 78u) << line;
  }
  EXPECT_GT(subject_lines, 1u);
  EXPECT_EQ(DecodedHeader("=?UTF-8?B?" + Base64("\xC3\xA4") + "?="), "\xC3\xA4");
  EXPECT_EQ(ValidUtf8("a\xE2\x82"
                      "b\xFF"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(ComposeMailTest, BodiesGoAsSevenBitOrQuotedPrintable) {
  const struct {
    const char* why;
    std::string body;
    const char* encoding;
  } cases[] = {
      {"ASCII", "line one\nline two\r\nline three\rend", "7bit"},
      {"non-ASCII", "Temp\xC3\xA9rature: 30\xC2\xB0 \xE2\x82\xAC", "quoted-printable"},
      {"long line", std::string(1200, 'x'), "quoted-printable"},
      {"NUL and control", std::string("a\0b\x1B c", 6), "quoted-printable"},
      {"equals and trailing blanks", "a=b \nc\t\n  ", "quoted-printable"},
      {"empty", "", "7bit"},
  };
  for (const auto& c : cases) {
    const Parts p = Split(ComposeMail(Message("s", c.body)));
    EXPECT_EQ(p.Header("Content-Transfer-Encoding"), c.encoding) << c.why;
    std::string expected = CrLfLines(ValidUtf8(c.body));
    if (!expected.empty() && !expected.ends_with("\r\n")) expected += "\r\n";
    if (std::string_view(c.encoding) == "7bit") {
      EXPECT_EQ(p.body, expected) << c.why;
      continue;
    }
    EXPECT_EQ(QpDecode(p.body), expected) << c.why;
    for (size_t at = 0; at < p.body.size();) {
      size_t next = p.body.find("\r\n", at);
      const std::string line = p.body.substr(at, next - at);
      EXPECT_LE(line.size(), 76u) << c.why;
      EXPECT_FALSE(line.ends_with(" ") || line.ends_with("\t")) << c.why;
      for (unsigned char ch : line) EXPECT_TRUE(ch >= 32 && ch < 127) << c.why;
      at = next + 2;
    }
  }
}

TEST(ComposeMailTest, RefusesHeaderInjectionAndBadAddresses) {
  const struct {
    const char* why;
    MailMessage message;
    const char* reason;
  } cases[] = {
      {"subject with CR LF", Message("Alert\r\nBcc: victim@example.org"),
       "the subject holds a line break or NUL"},
      {"subject with LF", Message("Alert\nX-Spam: yes"), "the subject holds a line break or NUL"},
      {"subject with NUL", Message(std::string("a\0b", 3)),
       "the subject holds a line break or NUL"},
      {"display name with LF",
       {{"Evil\nBcc: x@example.org", "notes@example.org"}, {{"", "ops@example.org"}}, {}, "s", "b"},
       "the sender display name holds a line break or NUL"},
      {"recipient with CR LF",
       {{"", "notes@example.org"}, {{"", "ops@example.org\r\nBcc: x@example.org"}}, {}, "s", "b"},
       "a To recipient address holds a line break or NUL"},
      {"cc name with CR",
       {{"", "notes@example.org"}, {}, {{"A\rB", "cc@example.org"}}, "s", "b"},
       "a Cc recipient display name holds a line break or NUL"},
      {"empty recipient",
       {{"", "notes@example.org"}, {{"", ""}}, {}, "s", "b"},
       "a To recipient address \"\" is not a valid e-mail address"},
      {"sender without domain",
       {{"", "notes"}, {{"", "ops@example.org"}}, {}, "s", "b"},
       "the sender address \"notes\" is not a valid e-mail address"},
      {"mailbox form in an address field",
       {{"", "notes@example.org"}, {{"", "Ops <ops@example.org>"}}, {}, "s", "b"},
       "a To recipient address \"Ops <ops@example.org>\" is not a valid e-mail address"},
  };
  for (const auto& c : cases) {
    try {
      ComposeMail(c.message);
      ADD_FAILURE() << c.why << ": composed";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.reason) << c.why;
    }
  }
}

}  // namespace
}  // namespace qz
