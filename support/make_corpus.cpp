// Writes the seed inputs for fuzzing: small LOC files, valid and broken in the
// ways a downloaded file may be. Usage: make_corpus FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "locbuild/loc_builder.hpp"

using locbuild::Bytes;

namespace {

Bytes HugeCount(std::int32_t languages, std::int32_t keys, std::int32_t strings) {
  Bytes out;
  locbuild::PutHeader(out, 1, languages, keys);
  locbuild::PutCountedString(out, "en");
  locbuild::PutInt32(out, 0);
  locbuild::PutBlockHead(out, "en", strings);
  locbuild::PutCountedString(out, "some text");
  return out;
}

Bytes OddPrefixes() {
  Bytes out;
  locbuild::PutHeader(out, 1, 1, 0);
  locbuild::PutCountedString(out, "en");
  locbuild::PutInt32(out, 0);
  locbuild::PutBlockHead(out, "en", 5);
  for (std::uint16_t prefix : {0x0000, 0x8000, 0xFFFF, 0x0001}) locbuild::PutLength(out, prefix);
  out += "z";
  locbuild::PutLength(out, 0x7FFF);
  out += "cut short";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus FOLDER\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  std::vector<std::pair<std::string, Bytes>> seeds = {
      {"worked-example", locbuild::WorkedExample()},
      {"varied", locbuild::Varied()},
      {"cut-in-header", locbuild::WorkedExample().substr(0, 10)},
      {"cut-in-directory", locbuild::WorkedExample().substr(0, 27)},
      {"cut-in-block", locbuild::WorkedExample().substr(0, 63)},
      {"cut-varied", locbuild::Varied().substr(0, locbuild::Varied().size() / 2)},
      {"many-languages", HugeCount(0x7FFFFFFF, 0, 1)},
      {"negative-languages", HugeCount(-1, 0, 1)},
      {"many-keys", HugeCount(1, 1'073'741'823, 1)},
      {"negative-keys", HugeCount(1, -7, 1)},
      {"many-strings", HugeCount(1, 0, 0x7FFFFFFF)},
      {"negative-strings", HugeCount(1, 0, -3)},
      {"odd-prefixes", OddPrefixes()},
      {"empty", Bytes()},
  };
  for (const auto& [name, bytes] : seeds) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
      std::fprintf(stderr, "make_corpus: could not write %s\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
