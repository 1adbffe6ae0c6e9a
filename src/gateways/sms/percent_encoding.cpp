#include "gateways/sms/percent_encoding.h"

namespace qz {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

bool FitsQuery(unsigned char c) {
  return c > 0x20 && c < 0x7F &&
         std::string_view("\"#<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
}

std::string EncodeAllBut(std::string_view text, bool (*stays)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (stays(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

}  // namespace

std::string PercentEncode(std::string_view text) { return EncodeAllBut(text, IsUnreserved); }

std::string PercentEncodeQuery(std::string_view text) { return EncodeAllBut(text, FitsQuery); }

}  // namespace qz
