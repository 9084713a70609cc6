#include <gtest/gtest.h>

#include "locbuild/loc_builder.hpp"
#include "support/files.hpp"
#include "textout/textout.hpp"

namespace {

using Files = std::map<std::string, std::string>;

TEST(SafeFileName, AcceptsPlainNamesInAnyCodePage) {
  for (std::string name : {"en", "", ".hidden", "pt.BR",
                           "Fran\xE7"
                           "ais",
                           "CONSOLE", "COM10", "nul-free", "lpt", ". .", "a b"}) {
    EXPECT_TRUE(IsSafeFileName(name)) << name;
  }
}

TEST(SafeFileName, RefusesPathsWildcardsControlBytesAndDevices) {
  for (std::string name :
       {"a/b",    "..\\up",   "C:x",   "x:stream", "*",   "a?",    "\"q\"",   "<",
        ">",      "|",        "tab\t", "del\x7F",  "CON", "con",   "Con.txt", "NUL ",
        "nul .x", "lpt9.log", "COM1",  "aux",      "PRN", "CONIN$"}) {
    EXPECT_FALSE(IsSafeFileName(name)) << name;
  }
  EXPECT_FALSE(IsSafeFileName(std::string("a\0b", 3)));
}

TEST(DisplayName, ShowsControlBytesAsHex) {
  EXPECT_EQ(DisplayName(std::string("a\0b\x1F\x7F\xE9", 6)), "a\\x00b\\x1F\\x7F\xE9");
}

// Lines are read a little past their end, as they are from the input buffer.
void WritePadded(LanguageFile& file, const std::string& text) {
  std::string padded = text + std::string(kLineOverread, '\n');
  WriteLine(file, std::string_view(padded.data(), text.size()));
}

class LanguageFileTest : public ::testing::Test {
 protected:
  TempFolder folder{"textout"};
  std::string Folder() const { return folder.path.string(); }
  Files Contents() const { return Snapshot(folder.path); }
};

// Lines are converted many bytes at a time; every length around those steps,
// with LFs at every place, must come out as the byte-by-byte rule says.
TEST_F(LanguageFileTest, EveryLengthAndLfPlacementConvertsExactly) {
  std::vector<std::string> lines;
  for (std::size_t size = 0; size <= 160; ++size) {
    std::string text(size, 'x');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + size) % 26);
    lines.push_back(text);
    for (std::size_t at = 0; at < size; ++at) {
      std::string one = text;
      one[at] = '\n';
      lines.push_back(one);
      std::string two = one;
      two[(at * 5 + 3) % size] = '\n';
      lines.push_back(two);
    }
    lines.push_back(std::string(size, '\n'));
  }
  LanguageFile file;
  OpenLanguageFile(file, Folder().c_str(), "mix");
  for (const std::string& line : lines) WritePadded(file, line);
  CloseLanguageFile(file);
  ASSERT_EQ(file.state, FileState::Done);
  EXPECT_EQ(ReadBytes(folder.path / "mix.txt"), locbuild::ExpectedText(lines));
}

TEST_F(LanguageFileTest, LargeOutputPassesThroughTheBufferWhole) {
  std::string expected;
  LanguageFile file;
  OpenLanguageFile(file, Folder().c_str(), "big");
  for (int i = 0; i < 40; ++i) {
    std::string text(32767, static_cast<char>('A' + i % 26));
    text[static_cast<std::size_t>(i) * 800] = '\n';
    WritePadded(file, text);
    expected += text.substr(0, static_cast<std::size_t>(i) * 800) + "\r\n" +
                text.substr(static_cast<std::size_t>(i) * 800 + 1) + "\r\n";
  }
  CloseLanguageFile(file);
  ASSERT_EQ(file.state, FileState::Done);
  EXPECT_EQ(ReadBytes(folder.path / "big.txt"), expected);
}

TEST_F(LanguageFileTest, AbandonedFileLeavesTheEarlierOneAndNoTemporary) {
  WriteBytes(folder.path / "en.txt", "earlier");
  LanguageFile file;
  OpenLanguageFile(file, Folder().c_str(), "en");
  WritePadded(file, "half");
  AbandonLanguageFile(file);
  EXPECT_EQ(Contents(), (Files{{"en.txt", "earlier"}}));
}

TEST_F(LanguageFileTest, TargetThatCannotBeReplacedFailsWithAReason) {
  fs::create_directories(folder.path / "en.txt" / "inside");
  LanguageFile file;
  OpenLanguageFile(file, Folder().c_str(), "en");
  WritePadded(file, "text");
  CloseLanguageFile(file);
  EXPECT_EQ(file.state, FileState::Failed);
  EXPECT_FALSE(file.error.empty());
  EXPECT_EQ(Contents(), (Files{{"en.txt", "<folder>"}, {"en.txt/inside", "<folder>"}}));
}

TEST_F(LanguageFileTest, RefusedAndDiscardedFilesWriteNothing) {
  LanguageFile refused, discarded;
  OpenLanguageFile(refused, Folder().c_str(), "../up");
  OpenLanguageFile(discarded, nullptr, "en");
  WritePadded(refused, "x");
  WritePadded(discarded, "a\nb");
  CloseLanguageFile(refused);
  CloseLanguageFile(discarded);
  EXPECT_EQ(refused.state, FileState::Refused);
  EXPECT_EQ(discarded.state, FileState::Done);
  EXPECT_EQ(discarded.bytesWritten, 6u);
  EXPECT_EQ(Contents(), Files{});
}

}  // namespace
