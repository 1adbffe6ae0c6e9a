#include "gateways/mail/smtp_transport.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <variant>

#include "automation/apartment.h"
#include "gateways/mail/smtp_server_url.h"

#include "platform/curl_global.h"
#include "platform/holders.h"

namespace qz {
namespace {

constexpr size_t kMaxReplyLine = 2048;

// What the server said, line by line, up to the client's QUIT: the reply
// that decides a mail's fate is the last one before it.
struct Dialogue {
  std::string partial;
  std::string last_reply;
  bool any_reply = false;
  bool quit_sent = false;

  void Received(std::string_view bytes) {
    if (quit_sent) return;
    for (char c : bytes) {
      if (c == '\n') {
        if (!partial.empty() && partial.back() == '\r') partial.pop_back();
        last_reply = std::move(partial);
        partial.clear();
        any_reply = true;
      } else if (partial.size() < kMaxReplyLine) {
        partial += c;
      }
    }
  }
  void Sent(std::string_view bytes) {
    if (bytes.size() >= 4 && curl_strnequal(bytes.data(), "QUIT", 4)) quit_sent = true;
  }
};

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* dialogue = static_cast<Dialogue*>(user);
  if (type == CURLINFO_HEADER_IN) dialogue->Received({data, size});
  if (type == CURLINFO_HEADER_OUT) dialogue->Sent({data, size});
  return 0;
}

struct Upload {
  std::string_view data;
  size_t offset = 0;
};

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const size_t n = std::min(size * count, upload->data.size() - upload->offset);
  upload->data.copy(buffer, n, upload->offset);
  upload->offset += n;
  return n;
}

bool HoldsLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool FinalRefusal(std::string_view reply) {
  return !reply.empty() && (reply.front() == '4' || reply.front() == '5');
}

// The three digits a refusal starts with; 0 when they are not there.
int RefusalCode(std::string_view reply) {
  if (reply.size() < 3) return 0;
  int code = 0;
  for (char c : reply.substr(0, 3)) {
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

}  // namespace

SmtpOutcome SendSmtp(std::string_view server, std::string_view envelope_from,
                     std::span<const std::string> recipients, std::string_view data) {
  return SendSmtp(server, envelope_from, recipients, data, SmtpOptions{});
}

SmtpOutcome SendSmtp(std::string_view server, std::string_view envelope_from,
                     std::span<const std::string> recipients, std::string_view data,
                     const SmtpOptions& options) {
  // A line break in an envelope address would smuggle in SMTP commands.
  if (HoldsLineBreak(envelope_from))
    return {false, "Mail not sent: the sender address holds a line break"};
  if (recipients.empty()) return {false, "Mail not sent: no recipient"};
  for (const std::string& to : recipients)
    if (HoldsLineBreak(to)) return {false, "Mail not sent: a recipient address holds a line break"};

  InitialiseCurlOnce();
  auto parsed = ParseSmtpServer(server);
  if (auto* why = std::get_if<std::string>(&parsed))
    return {false, "No SMTP server could be reached: " + *why};
  const SmtpServerUrl& target = std::get<SmtpServerUrl>(parsed);

  CurlPtr easy(curl_easy_init());
  if (!easy) return {false, "Mail not sent: out of memory"};
  CurlSlistPtr rcpt;
  for (const std::string& to : recipients) {
    if (!AppendLine(rcpt, to.c_str())) return {false, "Mail not sent: out of memory"};
  }

  const std::string from(envelope_from);
  Dialogue dialogue;
  Upload upload{data};
  char error[CURL_ERROR_SIZE] = "";
  CURL* h = easy.get();
  curl_easy_setopt(h, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(h, CURLOPT_READDATA, &upload);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
  // STARTTLS whenever offered; a password never travels in the clear.
  if (!target.implicit_tls)
    curl_easy_setopt(h, CURLOPT_USE_SSL, target.has_credentials ? CURLUSESSL_ALL : CURLUSESSL_TRY);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.ca_file.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_limit.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.total_limit.count()));
  // Several apartments send at once; signals would reach the wrong thread.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);  // feeds OnDebug the server's lines
  curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, OnDebug);
  curl_easy_setopt(h, CURLOPT_DEBUGDATA, &dialogue);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

  const BoundedWait waiting(std::chrono::steady_clock::now() + options.total_limit);
  const CURLcode code = curl_easy_perform(h);
  if (code == CURLE_OK) return {true, dialogue.last_reply};
  if (FinalRefusal(dialogue.last_reply))
    return {false, dialogue.last_reply, RefusalCode(dialogue.last_reply)};
  const std::string why = error[0] ? error : curl_easy_strerror(code);
  if (!dialogue.any_reply)
    return {false, "No SMTP server could be reached at " + target.shown + ": " + why};
  return {false, "The SMTP exchange with " + target.shown + " broke off: " + why};
}

FailureKind SmtpReplyKind(int code) {
  return code >= 500 && code <= 599 ? FailureKind::kPermanent : FailureKind::kTransient;
}

}  // namespace qz
