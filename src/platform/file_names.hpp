// Which names can be a file name of their own on every system: no path
// separators, drive or stream colons, wildcards, quotes or control
// characters, and no Windows device name such as CON or LPT1. The rule reads
// characters: bytes on POSIX systems, the name decoded from the active code
// page on Windows, so that a byte inside a character (as in Japanese code
// pages) is never taken for a separator.
#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>

namespace platform {

template <typename Char>
bool IsDeviceName(std::basic_string_view<Char> name) {
  auto stem = name.substr(0, name.find(Char('.')));
  while (!stem.empty() && stem.back() == Char(' ')) stem.remove_suffix(1);
  auto is = [&](std::size_t at, std::string_view word) {
    if (stem.size() < at + word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      unsigned long c = static_cast<std::make_unsigned_t<Char>>(stem[at + i]);
      if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
      if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
  };
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem.size() == device.size() && is(0, device)) return true;
  }
  if (!is(0, "COM") && !is(0, "LPT")) return false;
  // A digit, or superscript 1 to 3: the same values in Latin-1 bytes and in
  // UTF-16, and two bytes in UTF-8.
  for (std::string_view digit : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "\xB9", "\xB2",
                                 "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"}) {
    if (digit.size() > 1 && sizeof(Char) > 1) continue;
    if (stem.size() == 3 + digit.size() && is(3, digit)) return true;
  }
  return false;
}

template <typename Char>
bool IsPlainName(std::basic_string_view<Char> name) {
  for (Char c : name) {
    unsigned long code = static_cast<std::make_unsigned_t<Char>>(c);
    if (code < 0x20 || code == 0x7F) return false;
    if (code < 0x80 &&
        std::string_view("/\\:*?\"<>|").find(static_cast<char>(code)) != std::string_view::npos) {
      return false;
    }
  }
  return !IsDeviceName(name);
}

// NTFS (with short names on) and FAT also find a file by its short name, as
// ENGLIS~1 for "English language.txt": a stem that ends in "~" and digits
// could be another file's.
template <typename Char>
bool IsShortName(std::basic_string_view<Char> name) {
  auto stem = name.substr(0, name.find(Char('.')));
  std::size_t digits = 0;
  while (digits < stem.size() && stem[stem.size() - 1 - digits] >= Char('0') &&
         stem[stem.size() - 1 - digits] <= Char('9')) {
    ++digits;
  }
  return digits > 0 && digits < stem.size() && stem[stem.size() - 1 - digits] == Char('~');
}

// Names reach POSIX file systems as bytes, most of which are taken as they
// stand (Latin-1 and other legacy bytes too). Some drivers decode the forms
// of UTF-8 that no decoder may accept anyway: an overlong "/" or NUL (C0 AF,
// C0 80) becomes a path or cuts the name, an encoded surrogate (ED A0 80)
// breaks the listing of the folder (exFAT).
inline bool HasMisreadBytes(std::string_view name) {
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    auto lead = static_cast<unsigned char>(name[i]), next = static_cast<unsigned char>(name[i + 1]);
    bool overlong = lead == 0xC0 || lead == 0xC1 || (lead == 0xE0 && next < 0xA0) ||
                    (lead == 0xF0 && next < 0x90);
    bool surrogate = lead == 0xED && next >= 0xA0;
    if ((overlong || surrogate) && next >= 0x80 && next <= 0xBF) return true;
  }
  return false;
}

// Every file system the program writes to (NTFS, FAT, exFAT, ext4) takes
// names of up to 255 characters (on ext4, bytes), ".txt" included.
inline bool FitsFileName(std::size_t characters) {
  return characters + 4 <= 255;
}

}  // namespace platform
