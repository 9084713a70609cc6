// Walks any input with the reader's functions, as the run walks
// "languages.loc", and stores every run of strings as the writer does; checks
// what must hold whatever the input holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "loc/reader.hpp"
#include "textout/line_feeds.hpp"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

// The run's text as the writer gets it: every marked LF ends a line (a CR
// before it), and the conversion stores the text and one CR a free LF.
void CheckRun(const StringRun& run) {
  std::size_t lineFeeds = 0, marked = 0;
  for (std::size_t i = 0; i < run.text.size(); ++i) {
    bool mark = (run.lineBreaks[i / 64] >> (i % 64) & 1) != 0;
    Require(!mark || (i > 0 && run.text[i] == '\n' && run.text[i - 1] == '\r'),
            "a mark where no line ends");
    lineFeeds += run.text[i] == '\n';
    marked += mark;
  }
  Require(marked == static_cast<std::size_t>(run.count) - 1, "not one mark between two strings");
  static std::vector<char> out(2 * kMaxRunText + kStoreSlack);
  std::size_t stored =
      StoreWithCrLf(out.data(), run.text.data(), run.text.size(), run.lineBreaks.get());
  Require(stored == run.text.size() + lineFeeds - marked, "a line end stored wrongly");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LocInput input;
  OpenInputFromMemory(input, data, size);
  LanguageList languages;
  StringRun run;
  Require(AllocateStringRun(run), "no memory for a run's marks");
  LocHeader header = ReadHeader(input);
  SkipKeyTable(input, header.keyCount);
  ReadLanguageDirectory(input, header.languageCount, languages);
  std::uint64_t strings = 0;
  LanguageCursor cursor;
  for (std::string_view name; !Failed(input) && NextLanguage(languages, cursor, name);) {
    for (std::int32_t left = ReadBlockHead(input); left > 0 && !Failed(input);) {
      ReadStringRun(input, left, run);
      if (Failed(input)) break;
      Require(run.count > 0 && run.count <= left, "a run of no strings, or of too many");
      CheckRun(run);
      left -= run.count;
      strings += static_cast<std::uint64_t>(run.count);
    }
  }
  std::uint64_t consumed = Offset(input);
  Require(consumed <= size, "read past the end of the input");
  // Every directory entry takes at least 6 bytes and every string at least 2.
  Require(languages.count <= size / 6, "more languages than the input can hold");
  Require(strings * 2 <= consumed, "more strings than bytes read");
  Require(!Failed(input) || input.failure.offset <= size, "a failure past the end of the input");
  return 0;
}
