// One plain-text e-mail and its RFC 5322 / MIME form, as both e-mail routes
// send it. Refuses anything that would let a header value break a line on
// the wire or put a malformed address in a header. Pure functions; safe from
// any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

struct MailAddress {
  std::string display_name;  // may be empty
  std::string address;       // a bare address, local-part@domain
};

struct MailMessage {
  MailAddress from;
  std::vector<MailAddress> to;
  std::vector<MailAddress> cc;
  std::string subject;
  std::string body;
};

// The RFC 5322 / MIME text with CR LF line ends: Date, Message-ID, From, To,
// Cc (when any), Subject (RFC 2047 encoded words when not plain ASCII),
// MIME-Version, Content-Type text/plain UTF-8, body 7bit when it is short-lined
// ASCII and quoted-printable otherwise; display names quoted or encoded as
// needed. Invalid UTF-8 becomes U+FFFD. Throws std::invalid_argument with a
// clear reason when a header value holds CR or LF or an address is not a
// valid bare address.
std::string ComposeMail(const MailMessage& message);

// True for an RFC 5322 bare address (local-part@domain) in ASCII: dot-atom
// or quoted local part of at most 64 octets, dot-atom domain or domain
// literal, at most 254 octets in all. No display name, no angle brackets, no comments.
bool IsAddrSpec(std::string_view address);

// Reads "address", "<address>", "Name <address>" or "\"Name\" <address>"
// into its parts, trimming blanks. Does not validate the address.
MailAddress ParseMailbox(std::string_view text);

}  // namespace qz
