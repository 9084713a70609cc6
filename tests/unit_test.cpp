// What the end-to-end tests reach only in part: the reader's decoding corners,
// the file-name rule and both ways of converting lines, case by case.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <new>
#include <regex>

#include "loc/reader.hpp"
#include "locbuild/loc_builder.hpp"
#include "platform/platform.hpp"
#include "run/run.hpp"
#include "support/files.hpp"
#include "textout/line_feeds.hpp"
#include "textout/textout.hpp"

using locbuild::Bytes;

// Allocations may be made to fail, the library's and the program's own
// (platform::Allocate): after this many more, when not negative.
long gAllocationsLeft = -1;
bool gAllocationFailed = false;

bool MayAllocate() {
  if (gAllocationsLeft == 0) {
    gAllocationFailed = true;
    return false;
  }
  if (gAllocationsLeft > 0) --gAllocationsLeft;
  return true;
}

// Replacing operator new clashes with the sanitizers' own (their build leaves
// out the test that needs it). The library's operator delete gives memory back
// with free, so it stays.
#ifndef VORNHOLD_SANITIZED
void* operator new(std::size_t size) {
  if (!MayAllocate()) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
#endif

namespace {

// A count read from the file reserves nothing: the list grows as names arrive,
// and gives them back in file order, across its blocks, up to the cut entry.
TEST(Reader, TheDirectoryHoldsTheNamesThatArriveInFileOrder) {
  std::vector<std::string> names = {"en", "", "fr", "en"};
  for (int i = 0; i < 40; ++i) names.push_back(std::string(32767, static_cast<char>('a' + i % 26)));
  Bytes data;
  for (const std::string& name : names) {
    locbuild::PutCountedString(data, name);
    locbuild::PutInt32(data, 0);
  }
  locbuild::PutCountedString(data, "cut");
  LocInput input;
  OpenInputFromMemory(input, data.data(), data.size());
  LanguageList languages;
  ReadLanguageDirectory(input, 0x7FFFFFFF, languages);
  EXPECT_EQ(input.failure.kind, FailureKind::Ended);
  std::vector<std::string> read;
  LanguageCursor cursor;
  for (std::string_view name; NextLanguage(languages, cursor, name);) read.emplace_back(name);
  EXPECT_EQ(read, names);
  EXPECT_EQ(languages.count, names.size());
  EXPECT_LE(languages.blocks.size(), 2u);
}

// Through a real file, read 256 KiB at a time: directory entries laid across
// a read's end come out whole wherever it cuts them (the length, the name or
// the field after it), as each key-table length shifts them by 4 bytes.
TEST(Reader, EntriesAcrossTheEndOfAReadComeOutWhole) {
  TempFolder work("reads");
  const std::string path = (work.path / "languages.loc").string();
  constexpr int kEntries = 40'000, kEntrySize = 2 + 9 + 4;
  for (std::int32_t keys = 0; keys < kEntrySize; ++keys) {
    Bytes loc;
    locbuild::PutHeader(loc, 1, kEntries, keys);
    loc.append(4 * static_cast<std::size_t>(keys), '\0');
    std::vector<std::string> names;
    for (int i = 0; i < kEntries; ++i) {
      names.push_back(std::to_string(100'000'000 + i));
      locbuild::PutCountedString(loc, names.back());
      locbuild::PutInt32(loc, i);
    }
    Make(work.path, {{"languages.loc", loc}});
    LocInput input;
    OpenInput(input, path.c_str());
    LocHeader header = ReadHeader(input);
    SkipKeyTable(input, header.keyCount);
    LanguageList languages;
    ReadLanguageDirectory(input, header.languageCount, languages);
    ASSERT_FALSE(Failed(input));
    LanguageCursor cursor;
    std::string_view name;
    for (const std::string& expected : names) {
      ASSERT_TRUE(NextLanguage(languages, cursor, name));
      ASSERT_EQ(name, expected) << keys << " keys";
    }
  }
}

// A run takes the whole strings at hand, up to the count asked for, joined by
// CR LF; a negative length is an empty string.
TEST(Reader, ARunTakesTheWholeStringsAtHandUpToItsCount) {
  Bytes data;
  locbuild::PutCountedString(data, "ab");
  locbuild::PutCountedString(data, "ab");
  locbuild::PutLength(data, 0x8000);
  locbuild::PutCountedString(data, "ab");
  data += '\0';  // the start of a prefix, cut
  for (auto [maxCount, text] : {std::pair{9, "ab\r\nab\r\n\r\nab"}, {3, "ab\r\nab\r\n"}}) {
    LocInput input;
    OpenInputFromMemory(input, data.data(), data.size());
    StringRun run;
    ASSERT_TRUE(AllocateStringRun(run));
    ReadStringRun(input, maxCount, run);
    EXPECT_EQ(run.count, std::min(maxCount, 4));
    EXPECT_EQ(run.text, text);
  }
}

// A read that the system refuses says why, in its words.
TEST(Reader, AReadThatFailsGivesTheSystemsReason) {
  TempFolder work("unreadable");
  Make(work.path, {{"languages.loc", "bytes"}});
  const std::string path = (work.path / "languages.loc").string();
#ifdef _WIN32
  int writeOnly = _open(path.c_str(), _O_WRONLY);
#else
  int writeOnly = open(path.c_str(), O_WRONLY);
#endif
  char buffer[8];
  std::string error;
  EXPECT_EQ(platform::ReadSome(writeOnly, buffer, sizeof buffer, error), -1);
  EXPECT_FALSE(error.empty());
  platform::CloseFile(writeOnly, error);
}

TEST(FileName, TellsPlainNamesFromPathsDevicesShortNamesAndMisreadBytes) {
  using platform::NameCheck;
  std::vector<std::pair<std::string, NameCheck>> names;
  for (const char* name : {"en", "", ".hidden", "pt.BR", "Fran\347ais", "CONSOLE", "COM10",
                           "nul-free", "lpt", ". .", "a b", "COM\xB4", "a~", "a~1b", "x.a~1",
                           "caf\xC3\xA9", "\xC0", "\xE0\xA0\x80", "\xF0\x90\x80\x80"}) {
    names.emplace_back(name, NameCheck::Plain);
  }
  for (const char* name : {"a/b",     "..\\up", "C:x",      "x:stream", "*",       "a?",  "\"q\"",
                           "<",       ">",      "|",        "tab\t",    "del\x7F", "CON", "con",
                           "Con.txt", "NUL ",   "nul .x",   "lpt9.log", "COM1",    "aux", "PRN",
                           "CONIN$",  "com0",   "LPT0.txt", "COM\xB9",  "lpt\xB3"}) {
    names.emplace_back(name, NameCheck::Unsafe);
  }
  names.emplace_back(std::string("a\0b", 3), NameCheck::Unsafe);
  for (const char* name : {"ENGLIS~1", "a~12.b", "x~0", "~1"})
    names.emplace_back(name, NameCheck::ShortName);
  // With ".txt", 255 characters are as many as a file name may have.
  names.emplace_back(std::string(251, 'n'), NameCheck::Plain);
  names.emplace_back(std::string(252, 'n'), NameCheck::TooLong);
#ifndef _WIN32  // bytes of UTF-8; on Windows, characters of its code pages
  for (const char* name : {"COM\xC2\xB2", "LPT\xC2\xB9.x"})
    names.emplace_back(name, NameCheck::Unsafe);
  for (const char* name :
       {"a\xC0\xAF"
        "b",
        "a\xC0\x80"
        "b",
        "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "sur\xED\xA0\x80", "\xED\xBF\xBF"}) {
    names.emplace_back(name, NameCheck::Misread);
  }
#endif
  for (const auto& [name, check] : names) {
    EXPECT_EQ(platform::CheckFileName(name), check) << name;
  }
}

// Storing lines, on every length around its 64-byte steps and with LFs at
// every place, one LF of each line marked as a line end already, reading and
// storing no further than it may. `at` past the text: a text of LFs alone.
TEST(LineFeeds, EveryLengthAndLfPlacementConvertsExactly) {
  for (std::size_t size = 0; size <= 160; ++size) {
    for (std::size_t at = 0; at <= size + 1; ++at) {
      std::vector<char> in(size + kRunSlack, '\n');
      std::uint64_t lineBreaks[4] = {};
      for (std::size_t i = 0; i < size && at <= size; ++i) in[i] = static_cast<char>('a' + i % 26);
      if (at < size) in[at] = in[(at * 5 + 3) % size] = '\n';
      if (at < size) lineBreaks[at / 64] |= std::uint64_t{1} << at % 64;
      std::string expected;
      for (std::size_t i = 0; i < size; ++i) {
        if (in[i] == '\n' && (i != at)) expected += '\r';
        expected += in[i];
      }
      std::vector<char> out(expected.size() + kStoreSlack);
      std::size_t stored = StoreWithCrLf(out.data(), in.data(), size, lineBreaks);
      ASSERT_EQ(std::string(out.data(), stored), expected) << size << " " << at;
    }
  }
}

// Every allocation of a run may fail, one after the other: each such run says
// so, ends the line of the language it was in, and leaves each language file
// whole or as it was, with no temporary file. The input is read from a real
// file, in reads that end inside names and strings.
TEST(Run, AnAllocationThatFailsAnywhereIsReportedAndLeavesNothingHalfDone) {
  platform::gCalloc = [](std::size_t count, std::size_t size) {
    return MayAllocate() ? std::calloc(count, size) : nullptr;
  };
  locbuild::LocFile loc;
  for (const char* name : {"en", "fr", "de"}) {
    auto& language = loc.languages.emplace_back(locbuild::Language{name, {"two\nlines"}});
    language.strings.resize(10, std::string(30'000, name[0]));  // reads end inside them
  }
  TempFolder work("allocations");
  const std::string folder = (work.path / "Output").string();
  const std::map<std::string, std::string> earlier = {{"Output", "<folder>"},
                                                      {"Output/fr.txt", "earlier\r\n"}};
  std::map<std::string, std::string> whole;
  for (const auto& language : loc.languages) {
    whole["Output/" + language.name + ".txt"] = locbuild::ExpectedText(language.strings);
  }
  Make(work.path, {{"languages.loc", locbuild::BuildLoc(loc)}});
  bool completed = false;
  for (long allowed = 0; !completed; ++allowed) {
    SCOPED_TRACE(std::to_string(allowed) + " allocations allowed");
    std::filesystem::remove_all(work.path / "Output");
    Make(work.path, earlier);
    std::FILE* console = std::tmpfile();
    ASSERT_NE(console, nullptr);
    const std::string path = (work.path / "languages.loc").string();
    gAllocationsLeft = allowed;
    gAllocationFailed = false;
    LocInput input;
    OpenInput(input, path.c_str());
    LanguageList languages;
    ExtractResult result = ExtractLoc(input, languages, RunTarget{console, folder.c_str()});
    completed = !gAllocationFailed;
    gAllocationsLeft = -1;
    std::rewind(console);
    std::string said(1 << 16, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), console));
    std::fclose(console);
    EXPECT_EQ(result.damaged, !completed);
    EXPECT_EQ(said.find("does not fit in memory at byte") != std::string::npos, !completed) << said;
    EXPECT_FALSE(
        std::regex_search(said, std::regex(R"(Extracting \w+\.\.\.(?! Done!\n| Failed!\n))")))
        << said;
    for (const auto& [name, bytes] : Snapshot(work.path)) {
      EXPECT_TRUE(name == "languages.loc" || (whole.count(name) > 0 && whole.at(name) == bytes) ||
                  (earlier.count(name) > 0 && earlier.at(name) == bytes))
          << name;
    }
    ASSERT_LT(allowed, 1000);
  }
  platform::gCalloc = [](std::size_t count, std::size_t size) { return std::calloc(count, size); };
}

// A temporary file goes only when no one holds it (locked on POSIX systems,
// open on Windows), whatever process id its name carries.
TEST(TemporaryFiles, OnlyThoseThatNoOneHoldsAreRemovedAsLeftOver) {
  TempFolder folder("sweep");
  const std::string held = "vornhold-2147483647-2.tmp";
  Make(folder.path, {{"vornhold-2147483647-1.tmp", "left"},
                     {held, "held"},
                     {"vornhold-1-1.tmp", "left"},
                     {"vornhold-1-x.tmp", "not one"}});
#ifdef _WIN32
  HANDLE holder = CreateFileA((folder.path / held).string().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  platform::RemoveLeftOverTemporaryFiles(folder.path.string().c_str());
  CloseHandle(holder);
#else
  int holder = open((folder.path / held).c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  platform::RemoveLeftOverTemporaryFiles(folder.path.c_str());
  close(holder);
#endif
  EXPECT_EQ(Snapshot(folder.path),
            (std::map<std::string, std::string>{{held, "held"}, {"vornhold-1-x.tmp", "not one"}}));
}

}  // namespace
