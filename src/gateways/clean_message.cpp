#include "gateways/clean_message.h"

#include "platform/utf8.h"

namespace qz {

// One pass does the work of the replacement steps: they act on disjoint
// characters, CR LF pairs are matched before a lone CR or LF, and no
// replacement creates a character a later step would match.
void msubCleanMessage(std::string& text, bool limit) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) {
    text.clear();
    return;
  }
  size_t end = text.find_last_not_of(' ') + 1;

  // In place: the output never runs ahead of the input.
  size_t out = 0;
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    switch (c) {
      case '\r':
        if (i + 1 < end && text[i + 1] == '\n') ++i;
        c = ' ';
        break;
      case '\n':
      case '\0':
        c = ' ';
        break;
      case '\\':
        c = '/';
        break;
      default:
        break;
    }
    text[out++] = c;
  }
  text.resize(out);
  if (limit) text.resize(Utf8PrefixBytes(text, kPagedTextLimit));
}

}  // namespace qz
