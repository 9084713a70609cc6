// Writes LOC files field by field: whole, well-formed files from a short
// description, and, through the field writers, any broken file a test needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace locbuild {

using Bytes = std::string;

inline void PutByte(Bytes& out, std::uint8_t value) {
  out += static_cast<char>(value);
}

inline void PutInt32(Bytes& out, std::int32_t value) {
  auto bits = static_cast<std::uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8)
    PutByte(out, static_cast<std::uint8_t>(bits >> shift));
}

// A raw length prefix, which need not match what follows.
inline void PutLength(Bytes& out, std::uint16_t prefix) {
  PutByte(out, static_cast<std::uint8_t>(prefix >> 8));
  PutByte(out, static_cast<std::uint8_t>(prefix));
}

inline void PutCountedString(Bytes& out, std::string_view text) {
  PutLength(out, static_cast<std::uint16_t>(text.size()));
  out += text;
}

struct Language {
  std::string name;
  std::vector<std::string> strings;
  std::int32_t directoryField = 0;  // the 4 bytes after the name in the directory
};

struct LocFile {
  std::int32_t version = 2;
  std::vector<std::int32_t> keys;
  std::vector<Language> languages;
};

inline void PutHeader(Bytes& out, std::int32_t version, std::int32_t languageCount,
                      std::int32_t stringCount) {
  PutInt32(out, version);
  PutInt32(out, languageCount);
  PutByte(out, 0);
  PutInt32(out, stringCount);
}

// The head of a language block: byte field, 4 bytes, the name again, the count.
inline void PutBlockHead(Bytes& out, std::string_view name, std::int32_t stringCount) {
  PutByte(out, 0);
  PutInt32(out, 0);
  PutCountedString(out, name);
  PutInt32(out, stringCount);
}

inline Bytes BuildLoc(const LocFile& loc) {
  Bytes out;
  PutHeader(out, loc.version, static_cast<std::int32_t>(loc.languages.size()),
            static_cast<std::int32_t>(loc.keys.size()));
  for (std::int32_t key : loc.keys) PutInt32(out, key);
  for (const Language& language : loc.languages) {
    PutCountedString(out, language.name);
    PutInt32(out, language.directoryField);
  }
  for (const Language& language : loc.languages) {
    PutBlockHead(out, language.name, static_cast<std::int32_t>(language.strings.size()));
    for (const std::string& text : language.strings) PutCountedString(out, text);
  }
  return out;
}

// The 70-byte file with languages en and fr, one key and one string each.
inline Bytes WorkedExample() {
  return BuildLoc({2, {0x12345678}, {{"en", {"Hi"}, 0x10}, {"fr", {"Salut"}, 0x10}}});
}

// A small file with most of what a LOC file can hold: line breaks, an empty
// string, bytes above 0x7F, a zero byte, names that are not file names, a
// repeated name.
inline Bytes Varied() {
  return BuildLoc({7,
                   {1, 2, 3},
                   {{"English", {"New Game", "two\nlines", "", "caf\xC3\xA9"}},
                    {"../escape", {"x"}},
                    {"CON", {"y"}},
                    {"en", {std::string("nul\0byte", 8), "cr\r", std::string(300, 'w')}},
                    {"en", {"again"}}}});
}

// What the program writes for a list of strings: each followed by a line end,
// every LF stored as CR LF.
inline Bytes ExpectedText(const std::vector<std::string>& strings) {
  Bytes out;
  for (const std::string& text : strings) {
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace locbuild
