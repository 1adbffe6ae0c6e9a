#include "gateways/terminal/tap_frame.h"

#include "platform/utf8.h"

namespace qz::tap {

std::string Checksum(std::string_view block) {
  unsigned sum = 0;
  for (unsigned char c : block) sum += c & 0x7f;
  return {static_cast<char>('0' + ((sum >> 8) & 0xf)), static_cast<char>('0' + ((sum >> 4) & 0xf)),
          static_cast<char>('0' + (sum & 0xf))};
}

std::string EscapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t bytes = Utf8CharBytes(text);
    const auto c = static_cast<unsigned char>(text[0]);
    if (bytes > 1 || c >= 0x80) {
      out += '?';
    } else if (c < 0x20) {
      out += kSub;
      out += static_cast<char>(c + 0x40);
    } else if (c == 0x7f) {
      out += '?';  // DEL has no escape and terminals drop it
    } else {
      out += static_cast<char>(c);
    }
    text.remove_prefix(bytes);
  }
  return out;
}

std::string UnescapeField(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == kSub && i + 1 < field.size() && field[i + 1] >= 0x40 && field[i + 1] < 0x60) {
      out += static_cast<char>(field[++i] - 0x40);
    } else {
      out += field[i];
    }
  }
  return out;
}

namespace {

// One block from its data and end character.
std::string Block(std::string_view data, char end) {
  std::string block;
  block += kStx;
  block += data;
  block += end;
  block += Checksum(block);
  block += kCr;
  return block;
}

}  // namespace

std::vector<std::string> TransactionBlocks(std::string_view identifier, std::string_view text,
                                           size_t data_chars) {
  // Each field ends in CR; the CR belongs to the field, so a block that
  // holds it has ended the field and the next one starts a new field.
  const std::string fields[] = {EscapeField(identifier) + kCr, EscapeField(text) + kCr};
  std::vector<std::string> blocks;
  std::string data;
  for (const std::string& field : fields) {
    std::string_view rest = field;
    while (!rest.empty()) {
      if (data.size() == data_chars) {
        blocks.push_back(Block(data, data.back() == kCr ? kEtb : kUs));
        data.clear();
      }
      size_t take = std::min(rest.size(), data_chars - data.size());
      // Keep SUB with the character it escapes.
      if (take < rest.size() && rest[take - 1] == kSub) --take;
      if (take == 0) {
        blocks.push_back(Block(data, kUs));
        data.clear();
        continue;
      }
      data.append(rest.substr(0, take));
      rest.remove_prefix(take);
    }
  }
  blocks.push_back(Block(data, kEtx));
  return blocks;
}

}  // namespace qz::tap
