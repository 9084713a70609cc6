// What the end-to-end tests reach only in part: the reader's decoding corners,
// the file-name rule and the line conversion, case by case.
#include <gtest/gtest.h>

#include "loc/reader.hpp"
#include "locbuild/loc_builder.hpp"
#include "run/run.hpp"
#include "support/files.hpp"
#include "textout/textout.hpp"

using locbuild::Bytes;

namespace {

// A count read from the file reserves nothing: the list grows as names arrive.
TEST(Reader, TheDirectoryGrowsOnlyWithNamesThatArrive) {
  Bytes data;
  locbuild::PutCountedString(data, "en");
  locbuild::PutInt32(data, 0);
  locbuild::PutCountedString(data, "fr");
  LocInput input;
  OpenInputFromMemory(input, data.data(), data.size());
  LanguageList languages;
  ReadLanguageDirectory(input, 0x7FFFFFFF, languages);
  EXPECT_TRUE(input.failed);
  EXPECT_EQ(languages, LanguageList{"en"});
  EXPECT_LT(languages.capacity(), 16u);
}

// The walk that fuzzing drives, on a whole file held in memory.
TEST(Reader, AWholeFileInMemoryIsReadToItsLastByte) {
  ExtractResult result = ExtractFromMemory(locbuild::WorkedExample().data(), 70);
  EXPECT_FALSE(result.damaged);
  EXPECT_EQ(result.strings, 2);
  EXPECT_EQ(result.consumed, 70u);
}

TEST(SafeFileName, TellsPlainNamesFromPathsWildcardsControlBytesAndDevices) {
  for (std::string name : {"en", "", ".hidden", "pt.BR",
                           "Fran\xE7"
                           "ais",
                           "CONSOLE", "COM10", "nul-free", "lpt", ". .", "a b"}) {
    EXPECT_TRUE(IsSafeFileName(name)) << name;
  }
  for (std::string name :
       {"a/b",    "..\\up",   "C:x",   "x:stream", "*",   "a?",    "\"q\"",   "<",
        ">",      "|",        "tab\t", "del\x7F",  "CON", "con",   "Con.txt", "NUL ",
        "nul .x", "lpt9.log", "COM1",  "aux",      "PRN", "CONIN$"}) {
    EXPECT_FALSE(IsSafeFileName(name)) << name;
  }
  EXPECT_FALSE(IsSafeFileName(std::string("a\0b", 3)));
}

// Lines are converted 64 bytes at a time, reading a little past their end as
// they do in the input buffer: every length around those steps, with LFs at
// every place, must come out as the byte-by-byte rule says.
TEST(LanguageFile, EveryLengthAndLfPlacementConvertsExactly) {
  std::vector<std::string> lines;
  for (std::size_t size = 0; size <= 160; ++size) {
    std::string text(size, 'x');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + size) % 26);
    lines.push_back(text);
    for (std::size_t at = 0; at < size; ++at) {
      std::string one = text;
      one[at] = '\n';
      lines.push_back(one);
      one[(at * 5 + 3) % size] = '\n';
      lines.push_back(one);
    }
    lines.push_back(std::string(size, '\n'));
  }
  TempFolder folder("textout");
  LanguageFile file;
  OpenLanguageFile(file, folder.path.string().c_str(), "mix");
  for (const std::string& line : lines) {
    std::string padded = line + std::string(kLineOverread, '\n');
    WriteLine(file, std::string_view(padded.data(), line.size()));
  }
  CloseLanguageFile(file);
  ASSERT_EQ(file.state, FileState::Done);
  EXPECT_EQ(ReadBytes(folder.path / "mix.txt"), locbuild::ExpectedText(lines));
}

}  // namespace
