// What the end-to-end tests reach only in part: the reader's directory across
// reads and blocks, the file-name rule, the conversion of lines, every failed
// allocation of a run, and the sweep of left-over files.
#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix_calls.hpp"
#endif

#include <cstdlib>
#include <cstring>
#include <new>
#include <regex>
#include <thread>

#include "loc/reader.hpp"
#include "locbuild/loc_builder.hpp"
#include "run/run.hpp"
#include "support/files.hpp"
#include "textout/line_feeds.hpp"

using locbuild::Bytes;
using Files = std::map<std::string, std::string>;

// One allocation may be made to fail, the library's or the program's own
// (platform::Allocate): the one after this many more, when not negative.
long gAllocationsLeft = -1;
bool gAllocationFailed = false;

bool MayAllocate() {
  gAllocationFailed = gAllocationFailed || gAllocationsLeft == 0;
  return gAllocationsLeft < 0 || gAllocationsLeft-- != 0;
}

// Replacing operator new clashes with the sanitizers' own (their build leaves
// out the test that needs it). The library's operator delete gives memory back
// with free, so it stays.
#ifndef VORNHOLD_SANITIZED
void* operator new(std::size_t size) {
  for (;;) {  // as the library's: the new handler first, if there is one
    if (void* memory = MayAllocate() ? std::malloc(size == 0 ? 1 : size) : nullptr) return memory;
    if (std::get_new_handler() == nullptr) throw std::bad_alloc();
    std::get_new_handler()();
  }
}
#endif

namespace {

// Through a real file, read 256 KiB at a time, into the list's 1 MiB blocks:
// names of every size come out whole and in file order wherever a read's end
// or a block's end cuts their entry (as each key-table length shifts it by 4
// bytes), up to the entry that the file cuts. No count reserves anything.
TEST(Reader, TheDirectoryHoldsTheNamesThatArriveInFileOrder) {
  TempFolder work("reads");
  std::vector<std::string> names = {"en", "", "fr", "en"};
  for (int i = 0; i < 40; ++i) names.push_back(std::string(32767 - i, char('a' + i)));
  for (int i = 0; i < 30'000; ++i) names.push_back(std::to_string(i * 7919));
  for (std::int32_t keys = 0; keys < 9; ++keys) {
    Bytes loc;
    locbuild::PutHeader(loc, 1, 0x7FFFFFFF, keys);
    loc.append(4 * static_cast<std::size_t>(keys), '\0');
    for (const std::string& name : names) {
      locbuild::PutCountedString(loc, name);
      locbuild::PutInt32(loc, keys);
    }
    locbuild::PutCountedString(loc, "cut");
    Make(work.path, {{"languages.loc", loc}});
    LocInput input;
    OpenInput(input, (work.path / "languages.loc").string().c_str());
    SkipKeyTable(input, ReadHeader(input).keyCount);
    LanguageList languages;
    ReadLanguageDirectory(input, 0x7FFFFFFF, languages);
    EXPECT_EQ(input.failure.kind, FailureKind::Ended);
    LanguageCursor cursor;
    std::size_t read = 0;
    for (std::string_view name; NextLanguage(languages, cursor, name); ++read) {
      ASSERT_EQ(name, names[read]) << keys << " keys, name " << read;
    }
    EXPECT_EQ(read, names.size());
  }
}

#ifdef _WIN32
// A read that the system refuses says why, in its words (on POSIX systems an
// end-to-end test reads what cannot be read).
TEST(Reader, AReadThatFailsGivesTheSystemsReason) {
  TempFolder work("unreadable");
  Make(work.path, {{"languages.loc", "bytes"}});
  int writeOnly = _open((work.path / "languages.loc").string().c_str(), _O_WRONLY);
  char buffer[8];
  std::string error;
  EXPECT_EQ(platform::ReadSome(writeOnly, buffer, sizeof buffer, error), -1);
  EXPECT_FALSE(error.empty());
  platform::CloseFile(writeOnly, error);
}
#else
// A FIFO is opened without waiting for a writer, but read with waiting: the
// bytes that its writer sends a moment later are read, not taken for a fault.
TEST(Reader, AFifoIsReadAsItsWriterSendsIt) {
  TempFolder work("fifo");
  Make(work.path, {{"languages.loc", "<fifo>"}});
  const std::string path = (work.path / "languages.loc").string();
  int writer = open(path.c_str(), O_RDWR);  // a writer that has not sent anything yet
  std::string error;
  int file = platform::OpenForReading(path.c_str(), error);
  std::thread sending([&] { usleep(100'000), write(writer, "bytes", 5), close(writer); });
  char buffer[8];
  EXPECT_EQ(platform::ReadSome(file, buffer, sizeof buffer, error), 5) << error;
  sending.join();
  platform::CloseFile(file, error);
}
#endif

TEST(FileName, TellsPlainNamesFromPathsDevicesShortNamesAndMisreadBytes) {
  using platform::NameCheck;
  // clang-format off
  std::vector<std::pair<std::vector<std::string>, NameCheck>> checks = {
      {{"en", "", ".hidden", "pt.BR", "Fran\347ais", "CONSOLE", "COM10", "nul-free", "lpt", ". .",
        "a b", "COM\xB4", "a~", "a~1b", "x.a~1", "caf\xC3\xA9", "\xC0", "\xE0\xA0\x80",
        "\xF0\x90\x80\x80", "1234", std::string(251, 'n')}, NameCheck::Plain},
      {{"a/b", "..\\up", "C:x", "x:stream", "*", "a?", "\"q\"", "<", ">", "|", "tab\t", "del\x7F",
        "CON", "con", "Con.txt", "NUL ", "nul .x", "lpt9.log", "COM1", "aux", "PRN", "CONIN$",
        "com0", "LPT0.txt", "COM\xB9", "lpt\xB3", std::string("a\0b", 3)}, NameCheck::Unsafe},
      {{"ENGLIS~1", "a~12.b", "x~0", "~1"}, NameCheck::ShortName},
      // With ".txt", 255 characters are as many as a file name may have.
      {{std::string(252, 'n')}, NameCheck::TooLong},
#ifndef _WIN32  // bytes of UTF-8; on Windows, characters of its code pages
      {{"COM\xC2\xB2", "LPT\xC2\xB9.x"}, NameCheck::Unsafe},
      {{"a\xC0\xAF" "b", "a\xC0\x80" "b", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
        "sur\xED\xA0\x80", "\xED\xBF\xBF"}, NameCheck::Misread},
#endif
  };
  // clang-format on
  for (const auto& [names, check] : checks) {
    for (const std::string& name : names) EXPECT_EQ(platform::CheckFileName(name), check) << name;
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
        if (in[i] == '\n' && i != at) expected += '\r';
        expected += in[i];
      }
      std::vector<char> out(expected.size() + kStoreSlack);
      std::size_t stored = StoreWithCrLf(out.data(), in.data(), size, lineBreaks);
      ASSERT_EQ(std::string(out.data(), stored), expected) << size << " " << at;
    }
  }
}

// Every allocation of a run may fail, each in a run of its own: each such run
// says so, ends the line of the language it was in, and leaves each language
// file whole or as it was, with no temporary file. The input is read from a real
// file, in reads that end inside names and strings; the console is a file.
TEST(Run, AnAllocationThatFailsAnywhereIsReportedAndLeavesNothingHalfDone) {
  const auto systemCalloc = platform::gCalloc;
  platform::gCalloc = [](std::size_t count, std::size_t size) {
    return MayAllocate() ? std::calloc(count, size) : nullptr;
  };
  locbuild::LocFile loc;
  TempFolder work("allocations");
  const Files earlier = {{"Output", "<folder>"}, {"Output/fr.txt", "earlier\r\n"}};
  Files whole;
  for (const char* name : {"en", "fr", "de"}) {
    auto& language = loc.languages.emplace_back(locbuild::Language{name, {"two\nlines"}});
    language.strings.resize(10, std::string(30'000, name[0]));  // reads end inside them
    whole["Output/" + language.name + ".txt"] = locbuild::ExpectedText(language.strings);
  }
  Make(work.path, {{"languages.loc", whole["languages.loc"] = locbuild::BuildLoc(loc)}});
  const fs::path folder = fs::current_path();
  fs::current_path(work.path);
  std::fflush(stdout);
  const int testConsole = dup(1), keyboard = dup(0);
  for (long allowed = 0, missing = 0; missing < 2; ++allowed) {  // then with no input
    SCOPED_TRACE(std::to_string(allowed) + " allocations allowed" + (missing ? ", no input" : ""));
    if (missing) fs::rename(kLocFileName, "elsewhere.loc");
    fs::remove_all("Output");
    Make(".", earlier);
    int console = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int keys = open("console.txt", O_RDONLY);  // any key, so that the prompt returns at once
    dup2(console, 1), dup2(keys, 0), close(console), close(keys);
    gAllocationsLeft = allowed;
    gAllocationFailed = false;
    OpenInput(gLocInput, kLocFileName);
    int status = RunExtraction();
    gAllocationsLeft = -1;
    std::fflush(stdout);
    dup2(testConsole, 1), dup2(keyboard, 0);
    CloseInput(gLocInput);
    gLocInput.state = InputState::NotOpen, gLocInput.failure = {};
    gLanguageList = {};
    if (missing) fs::rename("elsewhere.loc", kLocFileName);
    Files after = Snapshot(".");
    std::string said = after["console.txt"];
    after.erase("console.txt");
    // A failed allocation is reported, or changes nothing that matters (a
    // reason shown as it was found, without conversion to the code page).
    bool outOfMemory = said.find("does not fit in memory at byte") != std::string::npos;
    EXPECT_TRUE(gAllocationFailed || !outOfMemory);
    EXPECT_EQ(status, outOfMemory || missing ? -1 : 0);
    EXPECT_EQ(said.find("could not be opened") != std::string::npos, missing && !outOfMemory);
    EXPECT_FALSE(std::regex_search(said, std::regex(R"(Extracting \w+\.\.\.(?! Done!| Failed!))")))
        << said;
    for (const auto& [name, bytes] : after) {
      EXPECT_TRUE((whole.count(name) > 0 && whole.at(name) == bytes) ||
                  (earlier.count(name) > 0 && earlier.at(name) == bytes))
          << name;
    }
    ASSERT_LT(allowed, 1000);
    if (!gAllocationFailed) allowed = -1, ++missing;
  }
  fs::current_path(folder);
  platform::gCalloc = systemCalloc;
}

#ifndef _WIN32
// A disk that does not take a file's data (an I/O error, a stick pulled out)
// fails its language with the system's reason; the earlier file stays.
TEST(TemporaryFiles, AFlushThatFailsKeepsTheEarlierFile) {
  platform::gPosixCalls.flushData = [](int) { return errno = EIO, -1; };
  TempFolder folder("flush");
  Make(folder.path, {{"en.txt", "earlier"}});
  platform::TemporaryFile temp;
  std::string error;
  ASSERT_TRUE(platform::CreateTemporaryFile(folder.path.c_str(), temp, error));
  EXPECT_EQ(platform::WriteSome(temp.file, "new", 3, error), 3);
  EXPECT_FALSE(platform::CloseTemporaryFile(temp, (folder.path / "en.txt").c_str(), error));
  platform::gPosixCalls = {};
  EXPECT_EQ(error, std::strerror(EIO));
  EXPECT_EQ(Snapshot(folder.path), (Files{{"en.txt", "earlier"}}));
}
#endif

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
  EXPECT_EQ(Snapshot(folder.path), (Files{{held, "held"}, {"vornhold-1-x.tmp", "not one"}}));
}

}  // namespace
