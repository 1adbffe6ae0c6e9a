#include "gateways/mail/mail_message.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "gateways/mail/mime_text.h"

namespace qz {
namespace {

void RefuseLineBreaks(std::string_view value, std::string_view what) {
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw std::invalid_argument(std::string(what) + " holds a line break or NUL");
}

void CheckAddress(const MailAddress& mailbox, std::string_view what) {
  RefuseLineBreaks(mailbox.display_name, std::string(what) + " display name");
  RefuseLineBreaks(mailbox.address, std::string(what) + " address");
  if (!IsAddrSpec(mailbox.address))
    throw std::invalid_argument(std::string(what) + " address \"" + mailbox.address +
                                "\" is not a valid e-mail address");
}

bool PhraseOfAtoms(std::string_view name) {
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == ' ' ||
          std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
              std::string_view::npos))
      return false;
  return name.front() != ' ' && name.back() != ' ';
}

std::string HeaderMailbox(const MailAddress& mailbox) {
  if (mailbox.display_name.empty()) return mailbox.address;
  const std::string name = ValidUtf8(mailbox.display_name);
  std::string phrase;
  if (!PlainHeaderText(name)) {
    phrase = EncodedWords(name);
  } else if (PhraseOfAtoms(name)) {
    phrase = name;
  } else {
    phrase = "\"";
    for (char c : name) {
      if (c == '"' || c == '\\') phrase += '\\';
      phrase += c;
    }
    phrase += '"';
  }
  return phrase + " <" + mailbox.address + ">";
}

std::string AddressList(const std::vector<MailAddress>& list) {
  std::string out;
  for (const MailAddress& mailbox : list) {
    if (!out.empty()) out += ", ";
    out += HeaderMailbox(mailbox);
  }
  return out;
}

// RFC 5322 date in local time, with English names whatever the locale.
std::string DateHeaderValue() {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  const long offset = local.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

// Unique without coordination: time, process and 64 random bits, at the
// sender's domain.
std::string MessageId(const MailAddress& from) {
  // getrandom is far cheaper than std::random_device, which is set up anew
  // for every mail; should it fail, the clock still separates messages.
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, 0) != sizeof bits)
    bits = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::string domain = "localhost";
  const size_t at = from.address.rfind('@');
  if (at != std::string::npos && from.address.back() != ']') domain = from.address.substr(at + 1);
  char text[128];
  std::snprintf(text, sizeof text, "<%llx.%d.%016llx@",
                static_cast<unsigned long long>(time(nullptr)), static_cast<int>(getpid()),
                static_cast<unsigned long long>(bits));
  return text + domain + ">";
}

}  // namespace

std::string ComposeMail(const MailMessage& message) {
  CheckAddress(message.from, "the sender");
  for (const MailAddress& to : message.to) CheckAddress(to, "a To recipient");
  for (const MailAddress& cc : message.cc) CheckAddress(cc, "a Cc recipient");
  RefuseLineBreaks(message.subject, "the subject");

  std::string mail;
  mail += "Date: " + DateHeaderValue() + "\r\n";
  mail += "Message-ID: " + MessageId(message.from) + "\r\n";
  mail += FoldedHeader("From", HeaderMailbox(message.from));
  if (!message.to.empty()) mail += FoldedHeader("To", AddressList(message.to));
  if (!message.cc.empty()) mail += FoldedHeader("Cc", AddressList(message.cc));
  const std::string subject = ValidUtf8(message.subject);
  mail += FoldedHeader("Subject", PlainHeaderText(subject) ? subject : EncodedWords(subject));
  mail += "MIME-Version: 1.0\r\n";
  mail += "Content-Type: text/plain; charset=UTF-8\r\n";

  const std::string body = CrLfLines(ValidUtf8(message.body));
  if (SevenBitLines(body)) {
    mail += "Content-Transfer-Encoding: 7bit\r\n\r\n";
    mail += body;
  } else {
    mail += "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    mail += QuotedPrintable(body);
  }
  if (!mail.ends_with("\r\n")) mail += "\r\n";
  return mail;
}

}  // namespace qz
