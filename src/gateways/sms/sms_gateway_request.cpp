#include "gateways/sms/sms_gateway_request.h"

#include <glib.h>

#include <chrono>
#include <string>
#include <vector>

#include "automation/apartment.h"
#include "automation/names.h"
#include "automation/run_time_error.h"
#include "gateways/sms/http_failure.h"
#include "gateways/sms/percent_encoding.h"
#include "platform/curl_global.h"

namespace qz {
namespace {

[[noreturn]] void Refuse(std::string description) {
  throw RunTimeError(kErrInvalidCall, std::move(description), std::string(kSmsGatewaySource));
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// RFC 9110 token characters: what a header name may be made of.
bool IsTokenChar(unsigned char c) {
  return g_ascii_isalnum(c) ||
         std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Header lines separated by CR LF; blank lines are skipped. Every other line
// must be "Name: value" with nothing that could start another line.
std::vector<std::string> HeaderLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find("\r\n");
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const size_t colon = line.find(':');
    bool ok = colon != std::string_view::npos && colon > 0 && !HasControl(line.substr(colon + 1));
    for (size_t i = 0; ok && i < colon; ++i) ok = IsTokenChar(static_cast<unsigned char>(line[i]));
    if (!ok) Refuse("Header line '" + std::string(line) + "' is not of the form 'Name: value'");
    lines.emplace_back(line);
  }
  return lines;
}

bool NamesHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines)
    if (line.size() > name.size() && line[name.size()] == ':' &&
        AsciiCaseEqual(std::string_view(line).substr(0, name.size()), name))
      return true;
  return false;
}

struct Body {
  std::string text;
  size_t cap = 0;
  bool cut = false;
};

size_t KeepBody(char* data, size_t size, size_t count, void* user) {
  Body& body = *static_cast<Body*>(user);
  const size_t bytes = size * count;
  const size_t room = body.cap - body.text.size();
  if (bytes > room) {
    body.text.append(data, room);
    body.cut = true;
    return 0;  // stops the transfer: the rest is not read
  }
  body.text.append(data, bytes);
  return bytes;
}

// The answer goes into texts that reach D-Bus and the log: every byte that
// does not belong to valid UTF-8, and every NUL, becomes U+FFFD.
std::string ValidText(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const gchar* end = nullptr;
    g_utf8_validate_len(bytes.data(), bytes.size(), &end);
    const size_t good = static_cast<size_t>(end - bytes.data());
    text.append(bytes.substr(0, good));
    if (good == bytes.size()) break;
    text.append(kReplacement);  // an invalid byte, or a NUL
    bytes.remove_prefix(good + 1);
  }
  return text;
}

}  // namespace

SmsGatewayRequest::SmsGatewayRequest(SmsGatewayLimits limits) : limits_(std::move(limits)) {
  InitialiseCurlOnce();
  easy_.reset(curl_easy_init());
}

SmsGatewayRequest::~SmsGatewayRequest() = default;

void SmsGatewayRequest::SetProperty(std::string_view name, const Variant& value) {
  if (AsciiCaseEqual(name, "Protocol")) {
    std::string v = FoldName(value.Text());
    if (v != "http" && v != "https")
      Refuse("Protocol must be http or https, not '" + value.Text() + "'");
    protocol_ = std::move(v);
  } else if (AsciiCaseEqual(name, "IPAddress")) {
    std::string v = value.Text();
    if (v.empty() || HasControl(v) || v.find_first_of(" /?#@\\") != std::string::npos)
      Refuse("IPAddress must be a host or host:port, not '" + v + "'");
    host_ = std::move(v);
  } else if (AsciiCaseEqual(name, "Connect")) {
    std::string v = value.Text();
    if (HasControl(v) || v.find_first_of(" #") != std::string::npos)
      Refuse("Connect must be a path without blanks, line breaks or '#'");
    connect_ = v.empty() || v.front() != '/' ? "/" + v : std::move(v);
  } else if (AsciiCaseEqual(name, "Access")) {
    const int16_t v = value.ToInt16();
    if (v != 0 && v != 1)
      Refuse("Access must be 0 (direct) or 1 (proxy settings of the environment), not " +
             std::to_string(v));
    access_ = v;
  } else if (AsciiCaseEqual(name, "Method")) {
    std::string v = value.Text();
    if (!AsciiCaseEqual(v, "GET") && !AsciiCaseEqual(v, "POST"))
      Refuse("Method must be GET or POST, not '" + v + "'");
    post_ = AsciiCaseEqual(v, "POST");
    method_ = std::move(v);
  } else if (AsciiCaseEqual(name, "Header")) {
    std::string v = value.Text();
    HeaderLines(v);  // refuses what cannot be sent
    header_ = std::move(v);
  } else if (AsciiCaseEqual(name, "Accept")) {
    std::string v = value.Text();
    if (HasControl(v)) Refuse("Accept must be one line");
    accept_ = std::move(v);
  } else {
    DispatchObject::SetProperty(name, value);
  }
}

Variant SmsGatewayRequest::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!AsciiCaseEqual(name, "SendRequest")) return DispatchObject::CallMethod(name, args);
  if (args.size() != 2) throw RunTimeError(kErrWrongArguments, std::string(kSmsGatewaySource));
  return Variant(SendRequest(args[1].At(0).Text()));
}

std::string SmsGatewayRequest::Where() const { return protocol_ + "://" + host_ + connect_; }

std::string SmsGatewayRequest::SendRequest(std::string_view request_text) {
  if (protocol_.empty() || host_.empty() || method_.empty())
    Refuse("Protocol, IPAddress and Method must be set before SendRequest");
  if (!easy_) throw RunTimeError(kErrOutOfMemory, std::string(kSmsGatewaySource));
  status_ = 0;
  retry_after_.reset();

  std::vector<std::string> lines = HeaderLines(header_);
  if (!accept_.empty()) lines.push_back("Accept: " + accept_);
  if (post_ && !NamesHeader(lines, "Content-Type"))
    lines.emplace_back("Content-Type: application/x-www-form-urlencoded");
  CurlSlistPtr list;
  for (const std::string& line : lines) {
    if (!AppendLine(list, line.c_str()))
      throw RunTimeError(kErrOutOfMemory, std::string(kSmsGatewaySource));
  }
  headers_ = std::move(list);

  std::string url = Where();
  if (!post_)
    url.append(connect_.find('?') == std::string::npos ? "?" : "&")
        .append(PercentEncodeQuery(request_text));

  Body body;
  body.cap = limits_.body_bytes;
  char error[CURL_ERROR_SIZE] = "";
  CURL* h = easy_.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  if (post_) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_text.size()));
    curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, std::string(request_text).c_str());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.total.count()));
  // Several apartments send at once; signals would reach the wrong thread.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // The answer of the named gateway is what counts, never another's.
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  if (access_ == 0) curl_easy_setopt(h, CURLOPT_PROXY, "");
  if (!limits_.ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, limits_.ca_file.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, KeepBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

  const BoundedWait waiting(std::chrono::steady_clock::now() + limits_.total);
  const CURLcode code = curl_easy_perform(h);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && body.cut)) {
    std::string what = error[0] ? error : curl_easy_strerror(code);
    throw RunTimeError(kErrGatewayTransport,
                       "No answer from the SMS gateway at " + Where() + ": " + what,
                       std::string(kSmsGatewaySource));
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status_);
  curl_header* retry = nullptr;
  if (curl_easy_header(h, "Retry-After", 0, CURLH_HEADER, -1, &retry) == CURLHE_OK)
    retry_after_ = RetryAfter(retry->value, std::chrono::system_clock::now());
  return ValidText(body.text);
}

void RegisterSmsGatewayRequest(ComponentRegistry& registry, SmsGatewayLimits limits) {
  registry.Register(kSmsGatewayClassId, [limits = std::move(limits)](std::string_view) {
    return std::make_shared<SmsGatewayRequest>(limits);
  });
}

}  // namespace qz
