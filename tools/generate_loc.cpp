// Writes a large, realistic LOC file for the benchmark, the same bytes for the
// same size and seed: 20 languages, strings mostly 5 to 200 bytes with some up
// to 2000, ASCII mixed with UTF-8, some empty strings and some negative length
// prefixes. In the kind "text", about one string in ten holds an LF or CR LF;
// in the kind "dialogue" (speech with line breaks) about half of them do.
// The kind "many" is of another shape, whatever the size asked for: 2,000
// languages of three 40-byte strings each, where the cost of each file shows.
//
// Usage: generate_loc MEBIBYTES SEED OUTPUT.loc [text|dialogue|many]
// Prints the number of bytes that the extraction must write in all.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "locbuild/loc_builder.hpp"

namespace {

constexpr int kLanguages = 20;
const char* const kNames[kLanguages] = {
    "English",   "French",  "German",   "Spanish", "Italian",    "Polish",   "Russian",
    "Czech",     "Turkish", "Dutch",    "Swedish", "Danish",     "Finnish",  "Greek",
    "Hungarian", "Korean",  "Japanese", "Chinese", "Portuguese", "Ukrainian"};

struct Random {
  std::uint64_t state;
  std::uint64_t Next() {  // xorshift64*
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
  }
  std::size_t Below(std::size_t limit) { return static_cast<std::size_t>(Next() % limit); }
};

// Text to cut strings from: words in ASCII and in UTF-8, with an LF or CR LF
// after `lineBreaks` words in a thousand.
std::string MakePool(Random& random, std::size_t lineBreaks) {
  const char* const words[] = {"the",
                               "gate",
                               "is",
                               "locked",
                               "key",
                               "caf\xC3\xA9",
                               "na\xC3\xAFve",
                               "gro\xC3\x9F",
                               "\xD0\xBC\xD0\xB8\xD1\x80",
                               "\xE6\x97\xA5\xE6\x9C\xAC",
                               "quest",
                               "Find",
                               "sword",
                               "of",
                               "Vornhold"};
  std::string pool;
  while (pool.size() < (1u << 20)) {
    pool += words[random.Below(std::size(words))];
    std::size_t roll = random.Below(1000);
    pool += roll < lineBreaks / 2 ? "\n" : roll < lineBreaks ? "\r\n" : roll < 80 ? ". " : " ";
  }
  return pool;
}

std::size_t StringLength(Random& random) {
  std::size_t roll = random.Below(100);
  if (roll < 3) return 0;
  if (roll < 8) return 200 + random.Below(1801);
  return 5 + random.Below(196);
}

std::uint64_t LineBytes(std::string_view text) {
  std::uint64_t bytes = text.size() + 2;
  for (char c : text) bytes += c == '\n';
  return bytes;
}

// The file of the kind "many"; returns the bytes that the extraction writes.
std::uint64_t PutMany(locbuild::Bytes& out, Random& random, const std::string& pool) {
  locbuild::LocFile loc{2, {0, 1, 2}, {}};
  std::uint64_t expected = 0;
  for (int i = 0; i < 2000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "L%d", 100000 + i);
    locbuild::Language& language = loc.languages.emplace_back(locbuild::Language{name, {}, 0});
    for (int k = 0; k < 3; ++k) {
      language.strings.emplace_back(pool.data() + random.Below(pool.size() - 40), 40);
      expected += LineBytes(language.strings.back());
    }
  }
  out = locbuild::BuildLoc(loc);
  return expected;
}

// The file of the kinds "text" and "dialogue", written a language at a time;
// returns the bytes that the extraction writes.
std::uint64_t WriteLarge(std::ofstream& file, Random& random, const std::string& pool,
                         std::uint64_t target) {
  // About 150 bytes a string with its prefix, plus 4 bytes of key table.
  const auto perLanguage = static_cast<std::int32_t>(target / (kLanguages * 152 + 4));
  locbuild::Bytes out;
  locbuild::PutHeader(out, 2, kLanguages, perLanguage);
  for (std::int32_t key = 0; key < perLanguage; ++key) locbuild::PutInt32(out, key);
  for (const char* name : kNames) {
    locbuild::PutCountedString(out, name);
    locbuild::PutInt32(out, 0);
  }
  std::uint64_t expected = 0;
  for (const char* name : kNames) {
    locbuild::PutBlockHead(out, name, perLanguage);
    for (std::int32_t i = 0; i < perLanguage; ++i) {
      if (random.Below(200) == 0) {
        locbuild::PutLength(out, static_cast<std::uint16_t>(0x8000 + random.Below(0x8000)));
        expected += 2;
        continue;
      }
      std::string_view text(pool.data() + random.Below(pool.size() - 2000), StringLength(random));
      locbuild::PutCountedString(out, text);
      expected += LineBytes(text);
    }
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    out.clear();
  }
  return expected;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 5 ? argv[4] : "text";
  if ((argc != 4 && argc != 5) || (kind != "text" && kind != "dialogue" && kind != "many")) {
    std::fprintf(stderr, "usage: generate_loc MEBIBYTES SEED OUTPUT.loc [text|dialogue|many]\n");
    return 2;
  }
  const std::uint64_t target = std::strtoull(argv[1], nullptr, 10) << 20;
  Random random{std::strtoull(argv[2], nullptr, 10) * 2654435761u + 1};
  // Strings are about 20 words long: 4 line breaks in a thousand words put
  // one in about one string in ten, and 45 in about half of them.
  const std::string pool = MakePool(random, kind == "dialogue" ? 45 : 4);
  std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
  std::uint64_t expected = 0;
  if (kind == "many") {
    locbuild::Bytes out;
    expected = PutMany(out, random, pool);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
  } else {
    expected = WriteLarge(file, random, pool, target);
  }
  file.close();
  if (!file) {
    std::fprintf(stderr, "generate_loc: could not write %s\n", argv[3]);
    return 1;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(expected));
  return 0;
}
