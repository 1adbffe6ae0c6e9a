// The encodings a plain-text mail needs on a 7-bit wire: RFC 2047 encoded
// words for header text, quoted-printable bodies, base64, and repair of
// invalid UTF-8. Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace qz {

std::string Base64(std::string_view bytes);

// "=?UTF-8?B?...?=" words of at most 75 characters, joined by blanks where
// FoldedHeader may fold; a UTF-8 sequence is never split between words.
std::string EncodedWords(std::string_view utf8);

// True when `text` can go into a header as it stands: tabs and printable
// ASCII only, nothing a reader would take for an encoded word, and no word
// too long to fold.
bool PlainHeaderText(std::string_view text);

// "Name: value" and CR LF, folded before blanks to keep lines near 78
// characters. `value` must already be fit for a header.
std::string FoldedHeader(std::string_view name, std::string_view value);

// The body with CR LF, CR and LF all as CR LF line ends.
std::string CrLfLines(std::string_view text);

// True when CR LF text is printable ASCII (and tabs) in lines of at most
// 998 characters that end in no blank, which may go as 7bit.
bool SevenBitLines(std::string_view crlf_text);

// RFC 2045 quoted-printable of CR LF text: line ends stay hard breaks,
// longer lines get soft breaks at 76 characters.
std::string QuotedPrintable(std::string_view crlf_text);

}  // namespace qz
