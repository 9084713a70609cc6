// Walks any input as a LOC file, the same way the program walks
// "languages.loc", and checks what must hold for every input whatever it holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "run/run.hpp"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LocInput input;
  OpenInputFromMemory(input, data, size);
  LanguageList languages;
  ExtractResult result = ExtractLoc(input, languages, RunTarget{});
  std::uint64_t consumed = Offset(input);
  Require(consumed <= size, "read past the end of the input");
  // Every directory entry takes at least 6 bytes and every string at least 2
  // (the one a damaged input ends in is counted but not read).
  Require(languages.count <= size / 6, "more languages than the input can hold");
  Require(result.strings >= 0 && static_cast<std::uint64_t>(result.strings) * 2 <= consumed + 2,
          "more strings than bytes read");
  Require(!result.lineOpen, "a language's line was left open");
  Require(!input.failed || result.damaged, "the input ended early but the walk went on");
  return 0;
}
