#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/ini_document.h"
#include "platform/ini_lookup.h"

namespace qz::ini {
namespace {

using Found = std::optional<std::string>;

Found Lookup(const std::string& text, const char* section, const char* key) {
  auto value = FindValue(text, section, key);
  return value ? Found(std::string(*value)) : std::nullopt;
}

TEST(IniFormat, ReaderFindsWhatTheFileSays) {
  struct Case {
    const char* why;
    std::string text;
    const char* section;
    const char* key;
    Found expected;
  };
  const Case cases[] = {
      {"names ignore case", "[Pager Terminal]\nComPort=3\n", "pager TERMINAL", "comport", "3"},
      {"Unicode case", "[Ärger]\nSchlüssel=x\n", "äRGER", "SCHLÜSSEL", "x"},
      {"blanks trimmed", "  [ A ]\n  k  =  v w  \n", " A ", "k\t", "v w"},
      {"quotes keep blanks", "[A]\nk=\" v \"\n", "A", "k", " v "},
      {"value holds = and ;", "[A]\nk=a=b;c\n", "A", "k", "a=b;c"},
      {"empty value", "[A]\nk=\n", "A", "k", ""},
      {"missing key", "[A]\nx=1\n[B]\nk=2\n", "A", "k", std::nullopt},
      {"missing section", "k=1\n[B]\nk=1\n", "A", "k", std::nullopt},
      {"comments", "[A]\n;k=1\n# k=2\n", "A", "k", std::nullopt},
      {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
      {"first section wins", "[A]\nx=1\n[a]\nk=2\n", "A", "k", std::nullopt},
      {"CR LF, BOM, no final ending", "\xEF\xBB\xBF[A]\r\nk=v", "A", "k", "v"},
  };
  for (const Case& c : cases) EXPECT_EQ(Lookup(c.text, c.section, c.key), c.expected) << c.why;
}

TEST(IniFormat, EditorChangesOnlyTheLineConcerned) {
  struct Case {
    const char* why;
    std::string before;
    const char* section;
    const char* value;
    std::string after;
  };
  const Case cases[] = {
      {"replace keeps spelling", "; c\n[A]\n K = old\n\nz=1\n", "a", "new",
       "; c\n[A]\n K = new\n\nz=1\n"},
      {"blanks get quotes", "[A]\nk=1\n", "A", " x ", "[A]\nk=\" x \"\n"},
      {"add after last entry", "[A]\nx=1\n; B\n[B]\n", "A", "v", "[A]\nx=1\nk=v\n; B\n[B]\n"},
      {"add section", "[A]\nx=1", "B", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
      {"add to empty file", "", "B", "v", "[B]\nk=v\n"},
      {"keep no final ending", "[A]\nx=1", "A", "v", "[A]\nx=1\nk=v"},
      {"CR LF style", "[A]\r\nx=1\r\n", "B", "v", "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
      {"first duplicate", "[A]\nk=1\n[A]\nk=2\n", "A", "3", "[A]\nk=3\n[A]\nk=2\n"},
      {"BOM kept", "\xEF\xBB\xBF[A]\nk=1\n", "A", "2", "\xEF\xBB\xBF[A]\nk=2\n"},
  };
  for (const Case& c : cases) {
    IniDocument document(c.before);
    document.Set(c.section, "k", c.value);
    EXPECT_EQ(document.Text(), c.after) << c.why;
  }
}

TEST(IniFormat, WrittenValuesReadBackUnchanged) {
  for (const char* value :
       {"", " padded\t", "\"q\"", "\"", "a=b", "; no comment", "[no section]", "Grüße"}) {
    IniDocument document("[S]\nk=old\n");
    document.Set("s", "K", value);
    EXPECT_EQ(Lookup(document.Text(), "S", "k"), value) << document.Text();
  }
}

}  // namespace
}  // namespace qz::ini
