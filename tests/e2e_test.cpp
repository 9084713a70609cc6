// Runs the built program as a user would: in a fresh folder holding a LOC file
// made by the builder, checking the console text, every byte in the folder and
// the exit status. The program is named on the command line (--program PATH),
// so the same tests run against every build of it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "locbuild/loc_builder.hpp"
#include "support/files.hpp"
#include "support/program_runner.hpp"

using locbuild::Bytes;
using Files = std::map<std::string, std::string>;

namespace {

std::string gProgram;
int gDamageRuns = 300;    // the test run sets how many (--damage-runs)
int gCodePage = 0;        // the system's code page, where the test run sets one (wine: LANG)
bool gOnConsole = false;  // the program's output goes to this test's console
unsigned long long gDamageSeed = 0;  // 0: pick one from the clock
// The kind of file system that the tests' folders are on, where the test run
// puts them on a mounted one (--scratch): "exfat", "ntfs", or empty when that
// could not be mounted or none was asked for.
std::string gScratch, gFileSystem;
// The script that mounted it, which can also copy its disk at a moment (--mount-script).
std::string gMountScript;

const std::string kBanner =
    "Vornhold String Extractor\n"
    "Unpacks languages.loc into one text file per language\n"
    "========================\n";
const std::string kSeparator = "========================\n";
const std::string kPrompt = "\nPress enter to exit...";
const std::string kDamaged = "\"languages.loc\" is damaged: ";
constexpr int kDamagedStatus = 255;  // -1 as a shell sees it
#ifdef _WIN32
constexpr int kStoppedStatus = 1;  // as the tests' TerminateProcess gives it
#else
constexpr int kStoppedStatus = 128;  // and the signal's number
#endif
constexpr std::int32_t kMaxKeys = 1'073'741'823;

std::string Header(int version, int languages, int strings) {
  return "Reading process started...\nLOC File Version: " + std::to_string(version) +
         "\nNumber of Languages: " + std::to_string(languages) +
         "\nNumber of Strings: " + std::to_string(strings) + "\n";
}

std::string Done(const std::string& name) {
  return "Extracting " + name + "... Done!\n";
}
std::string Summary(int strings) {
  return "Extracted " + std::to_string(strings) + " strings in 0.00s seconds\n";
}

// The parts of the console text that vary: line ends (CR LF on Windows), the
// time, and the system's words for why a file could not be written.
std::string Normalised(std::string console) {
  static const std::pair<std::regex, const char*> kVarying[] = {
      {std::regex("\r\n"), "\n"},
      {std::regex(R"(strings in [0-9]+\.[0-9][0-9]s seconds)"), "strings in 0.00s seconds"},
      {std::regex(R"(\.\.\. Failed: [^\n]+)"), "... Failed: <reason>"},
      {std::regex(R"(could not be made: [^\n]+)"), "could not be made: <reason>"},
      {std::regex(R"(program\. Reason: [^\n]+\.)"), "program. Reason: <reason>."},
      {std::regex(R"(memory at byte [0-9]+)"), "memory at byte <n>"}};
  for (const auto& [pattern, replacement] : kVarying) {
    console = std::regex_replace(console, pattern, replacement);
  }
  return console;
}

// The work folder after a run, without the LOC file: "Output" and what is in it.
Files Out(Files files) {
  Files all{{"Output", "<folder>"}};
  for (auto& [name, bytes] : files) all["Output/" + name] = bytes;
  return all;
}

class Extract : public ::testing::Test {
 public:
  TempFolder top{"work"};
  TempFolder side{"side"};
  fs::path work = top.path;  // where the program runs

  void SetUp() override {
    if (!gScratch.empty() && gFileSystem.empty()) GTEST_SKIP() << "no file system mounted";
    fs::create_directories(work);
  }
  fs::path Output() const { return work / "Output"; }
  void Fresh() {
    fs::remove_all(work);
    fs::create_directories(work);
  }
  void PutLoc(const Bytes& bytes) { Make(work, {{"languages.loc", bytes}}); }
  Files Everything() const {
    Files all = Snapshot(work);
    all.erase("languages.loc");
    return all;
  }
  ProgramRun Run(const Stop* stop = nullptr, const Limits& limits = {}) {
    ProgramRun run =
        RunProgram(gProgram, work.string(), (side.path / "console.txt").string(), 30, stop, limits);
    EXPECT_FALSE(run.timedOut);
    run.console = Normalised(ReadBytes(side.path / "console.txt"));
    return run;
  }
};

struct Case {
  const char* what;
  Bytes loc;     // no languages.loc at all when empty
  Files before;  // made in the work folder first, as Snapshot lists them
  int status;
  std::string console;  // between the banner and the prompt
  Files after;
  Limits limits = {};     // where limits can be set
  std::string said = {};  // what the console must say as it is: the system's words
};

// The program's own needs, a few MiB, and twice a 12 MB directory (below) fit.
constexpr Limits kAddressSpace24MiB{.addressSpaceKiB = 24 << 10};


#ifndef _WIN32
// A directory of `names` names of `size` bytes, claiming ever more.
Bytes Directory(int names, std::size_t size) {
  Bytes loc, entry;
  locbuild::PutHeader(loc, 1, 0x7FFFFFFF, 0);
  locbuild::PutCountedString(entry, std::string(size, 'x'));
  locbuild::PutInt32(entry, 0);
  for (; names > 0; --names) loc += entry;
  return loc;
}
#endif

// Header claims 9 strings; the blocks hold 3 in all. Counts of 0 and -4 give
// empty files; a name may repeat (the later block wins) or be empty; a
// negative length prefix is an empty string of two bytes.
Bytes OwnCounts() {
  Bytes loc;
  locbuild::PutHeader(loc, 1, 5, 9);
  for (int key = 0; key < 9; ++key) locbuild::PutInt32(loc, key);
  for (const char* name : {"a", "b", "a", "", "c"}) {
    locbuild::PutCountedString(loc, name);
    locbuild::PutInt32(loc, 0);
  }
  locbuild::PutBlockHead(loc, "a", 1);
  locbuild::PutCountedString(loc, "first a");
  locbuild::PutBlockHead(loc, "b", 0);
  locbuild::PutBlockHead(loc, "a", 1);
  locbuild::PutCountedString(loc, "second a");
  locbuild::PutBlockHead(loc, "", -4);
  locbuild::PutBlockHead(loc, "c", 1);
  locbuild::PutLength(loc, 0x8000);
  return loc;
}

// A language larger than 100,000 bytes, then a small one.
Bytes BigAndSmall() {
  const std::string lines(32000, '\n');  // each doubles to 64000 bytes in the file
  return locbuild::BuildLoc({2, {}, {{"big", {lines, lines}}, {"small", {"fits"}}}});
}

const std::vector<std::string> kOddBytes = {
    std::string("nul\0byte", 8), "two\nlines", "cr\rstays", "", "caf\xC3\xA9 \xFF",
    std::string(32767, '\n')};
Bytes Huge(std::int32_t languages, std::int32_t keys, std::int32_t strings) {
  Bytes loc;
  locbuild::PutHeader(loc, 1, languages, keys);
  locbuild::PutInt32(loc, 5);
  locbuild::PutCountedString(loc, "en");
  locbuild::PutInt32(loc, 0);
  locbuild::PutBlockHead(loc, "en", strings);
  locbuild::PutCountedString(loc, "only one");
  locbuild::PutLength(loc, 0x7FFF);
  return loc + "short";
}

// Names that are not plain file names: a file of them, the console lines and
// how many there are.
struct HostileNames {
  Bytes loc;
  std::string console;
  int count;
};
HostileNames Hostile() {
  const std::string unsafe = "unsafe file name", shortName =
                                                     "name of the form of another file's "
                                                     "short name";
  struct Name {
    std::string name, shown, reason;
  };
  std::vector<Name> names = {{"../escape", "../escape", unsafe},
                             {"..\\up", "..\\up", unsafe},
                             {"C:x", "C:x", unsafe},
                             {"/tmp/x", "/tmp/x", unsafe},
                             {"lpt1 ", "lpt1 ", unsafe},
                             {"bell\x07", "bell\\x07", unsafe},
                             {{"nul\0", 4}, "nul\\x00", unsafe},
                             {"ENGLIS~1", "ENGLIS~1", shortName}};
#ifndef _WIN32  // bytes that exFAT reads as "/", a NUL and a surrogate; characters on Windows
  const std::string misread = "bytes that a file system may read as another name";
  for (std::string name : {"a\xC0\xAF"
                           "b",
                           "a\xC0\x80"
                           "b",
                           "sur\xED\xA0\x80"}) {
    names.push_back({name, name, misread});
  }
#endif
  locbuild::LocFile loc;
  std::string console;
  for (const auto& [name, shown, reason] : names) {
    loc.languages.push_back({name, {"x"}});
    console += "Extracting " + shown + "... Skipped: " + reason + "\n";
  }
  loc.languages.push_back({"ok", {"fine"}});
  return {locbuild::BuildLoc(loc), console, static_cast<int>(names.size())};
}

// Names too long for a file: one just over the console's kilobyte buffer,
// one of the longest kind. Each is shown whole.
std::pair<Bytes, std::string> LongNames() {
  locbuild::LocFile loc;
  std::string console;
  for (std::size_t size : {1500, 32767}) {
    std::string name(size, 'n');
    loc.languages.push_back({name, {"x"}});
    console += "Extracting " + name + "... Skipped: name too long for a file\n";
  }
  return {locbuild::BuildLoc(loc), console};
}

const Bytes kWorked = locbuild::WorkedExample();
const std::string kWorkedConsole =
    Header(2, 2, 1) + kSeparator + Done("en") + Done("fr") + Summary(2);
const Files kWorkedFiles = Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}});

const std::string kMissing =
    "\"languages.loc\" could not be opened. Please make sure it isn't being used elsewhere on "
    "your computer and that it is in the same folder as this program. Reason: <reason>.";

// clang-format off
const Case kCases[] = {
    {"the worked example", kWorked, {}, 0, kWorkedConsole, kWorkedFiles},
    {"no input", "", {}, kDamagedStatus, kMissing, Out({})},
    {"a folder as input", "", {{"languages.loc", "<folder>"}}, kDamagedStatus, kMissing, Out({})},
    {"no languages", Huge(-5, 0, 0), {}, 0, Header(1, -5, 0) + kSeparator + Summary(0), Out({})},
    {"blocks read as their own counts say", OwnCounts(), {}, 0,
     Header(1, 5, 9) + kSeparator + Done("a") + Done("b") + Done("a") + Done("") + Done("c") +
         Summary(3),
     Out({{"a.txt", "second a\r\n"}, {"b.txt", ""}, {".txt", ""}, {"c.txt", "\r\n"}})},
    {"bytes kept, every LF as CR LF", locbuild::BuildLoc({2, {1}, {{"odd", kOddBytes}}}), {}, 0,
     Header(2, 1, 1) + kSeparator + Done("odd") + Summary(6),
     Out({{"odd.txt", locbuild::ExpectedText(kOddBytes)}})},
    {"a second run replaces language files only", kWorked,
     {{"Output/en.txt", "an older and much longer text\r\n"}, {"Output/notes.txt", "mine"}}, 0,
     kWorkedConsole, Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}, {"notes.txt", "mine"}})},
    {"a cut inside a language ends its line first", kWorked.substr(0, 63), {}, kDamagedStatus,
     Header(2, 2, 1) + kSeparator + Done("en") + "Extracting fr... Failed!\n" + kDamaged +
         "it ends at byte 63, inside the strings of language fr.\n",
     Out({{"en.txt", "Hi\r\n"}})},
    {"a cut inside the header", kWorked.substr(0, 12), {}, kDamagedStatus,
     "Reading process started...\n" + kDamaged + "it ends at byte 12, inside the header.\n",
     Out({})},
    {"a huge language count", Huge(0x7FFFFFFF, 1, 1), {}, kDamagedStatus,
     Header(1, 0x7FFFFFFF, 1) + kDamaged + "it ends at byte 55, inside the language directory.\n",
     Out({})},
    {"temporary files that earlier runs left are removed, whatever process ids they name", kWorked,
     {{"Output/vornhold-2147483647-1.tmp", "left"}, {"Output/vornhold-1-2.tmp", "left"},
      {"Output/vornhold-2147483647-x.tmp", "mine"}, {"Output/vornhold-.tmp", "mine"}}, 0,
     kWorkedConsole,
     Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}, {"vornhold-2147483647-x.tmp", "mine"},
          {"vornhold-.tmp", "mine"}})},
    {"a huge key count", Huge(1, kMaxKeys, 1), {}, kDamagedStatus,
     Header(1, 1, kMaxKeys) + kDamaged + "it ends at byte 55, inside the key table.\n", Out({})},
    {"a huge string count", Huge(1, 1, 0x7FFFFFFF), {}, kDamagedStatus,
     Header(1, 1, 1) + kSeparator + "Extracting en... Failed!\n" + kDamaged +
         "it ends at byte 55, inside the strings of language en.\n", Out({})},
    {"a negative string count", Huge(1, -1, 1), {}, kDamagedStatus,
     Header(1, 1, -1) + kDamaged + "string count -1 is out of range.\n", Out({})},
    {"a string count past the largest", Huge(1, kMaxKeys + 1, 1), {}, kDamagedStatus,
     Header(1, 1, kMaxKeys + 1) + kDamaged + "string count 1073741824 is out of range.\n", Out({})},
    {"hostile names", Hostile().loc, {}, 1,
     Header(2, Hostile().count + 1, 0) + kSeparator + Hostile().console + Done("ok") +
         Summary(Hostile().count + 1) + std::to_string(Hostile().count) +
         " languages could not be written.\n",
     Out({{"ok.txt", "fine\r\n"}})},
    {"a file named Output", kWorked, {{"Output", "not a folder"}}, 1,
     "Folder Output could not be made: <reason>\n" + Header(2, 2, 1) + kSeparator +
         "Extracting en... Failed: <reason>\nExtracting fr... Failed: <reason>\n" + Summary(2) +
         "2 languages could not be written.\n",
     {{"Output", "not a folder"}}},
    {"a folder where a language file goes", kWorked, {{"Output/en.txt", "<folder>"}}, 1,
     Header(2, 2, 1) + kSeparator + "Extracting en... Failed: <reason>\n" + Done("fr") +
         Summary(2) + "1 languages could not be written.\n",
     Out({{"en.txt", "<folder>"}, {"fr.txt", "Salut\r\n"}})},
    {"names over a kilobyte, shown whole", LongNames().first, {}, 1,
     Header(2, 2, 0) + kSeparator + LongNames().second + Summary(2) +
         "2 languages could not be written.\n", Out({})},
#ifndef _WIN32  // links need rights that a Windows test run does not have; limits, POSIX
    {"a directory within twice its size", Directory(2'000'000, 0), {}, kDamagedStatus,
     Header(1, 0x7FFFFFFF, 0) + kDamaged + "it ends at byte 12000013, inside the language directory.\n",
     Out({}), kAddressSpace24MiB},
    {"a directory too large for memory", Directory(1000, 32767),
     {{"Output/en.txt", "earlier\r\n"}}, kDamagedStatus, Header(1, 0x7FFFFFFF, 0) +
         "\"languages.loc\" cannot be extracted: the language directory does not fit in memory at "
         "byte <n>.\n", Out({{"en.txt", "earlier\r\n"}}), kAddressSpace24MiB},
    {"a file-size limit fails the language past it", BigAndSmall(),
     {{"Output/big.txt", "earlier big\r\n"}}, 1,
     Header(2, 2, 0) + kSeparator + "Extracting big... Failed: <reason>\n" + Done("small") +
         Summary(3) + "1 languages could not be written.\n",
     Out({{"big.txt", "earlier big\r\n"}, {"small.txt", "fits\r\n"}}),
     {.fileSizeBytes = 100'000}},
    {"a read that fails", "", {{"languages.loc", "<link>/proc/self/mem"}}, kDamagedStatus,
     "Reading process started...\n\"languages.loc\" is damaged or unreadable: reading failed at "
     "byte 0, inside the header: Input/output error.\n", Out({})},
    {"the prompt waits for Enter", kWorked, {}, 0, kWorkedConsole, kWorkedFiles,
     {.enterAfterPrompt = true}},
    {"a link where a language file goes", kWorked,
     {{"victim.txt", "keep me"}, {"Output/en.txt", "<link>../victim.txt"}}, 0, kWorkedConsole,
     {{"Output", "<folder>"}, {"Output/en.txt", "Hi\r\n"}, {"Output/fr.txt", "Salut\r\n"},
      {"victim.txt", "keep me"}}},
    {"a FIFO with no writer as input", "", {{"languages.loc", "<fifo>"}}, kDamagedStatus,
     "Reading process started...\n" + kDamaged + "it ends at byte 0, inside the header.\n",
     Out({})},
    {"a folder that the user may not write", kWorked, {}, 1,
     "Folder Output could not be made: <reason>\n" + Header(2, 2, 1) + kSeparator +
         "Extracting en... Failed: <reason>\nExtracting fr... Failed: <reason>\n" + Summary(2) +
         "2 languages could not be written.\n", {}, {.ordinaryUser = true},
     "Folder Output could not be made: Permission denied\n"},
#endif
};
// clang-format on

TEST_F(Extract, EveryCaseGivesItsConsoleFilesAndStatus) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Fresh();
    if (!c.loc.empty()) PutLoc(c.loc);
    Make(work, c.before);
    // An ordinary user may not write a folder of root's that only root may write.
    if (c.limits.ordinaryUser)
      fs::permissions(work, fs::perms::owner_write, fs::perm_options::remove);
    ProgramRun run = Run(nullptr, c.limits);
    fs::permissions(work, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(run.exitStatus, c.status);
    EXPECT_EQ(run.waitedForEnter, c.limits.enterAfterPrompt);
    EXPECT_EQ(run.console, kBanner + c.console + kPrompt);
    EXPECT_NE(ReadBytes(side.path / "console.txt").find(c.said), std::string::npos);
    EXPECT_EQ(Everything(), c.after);
  }
}

TEST_F(Extract, FileCutShortAnywhereIsReportedAndKeepsEarlierFiles) {
  for (std::size_t size = 0; size < kWorked.size(); ++size) {
    SCOPED_TRACE("cut to " + std::to_string(size));
    fs::remove_all(Output());
    Make(work, {{"Output/en.txt", "old en\r\n"}, {"Output/fr.txt", "old fr\r\n"}});
    PutLoc(kWorked.substr(0, size));
    ProgramRun run = Run();
    EXPECT_EQ(run.exitStatus, kDamagedStatus);
    EXPECT_NE(run.console.find(kDamaged + "it ends at byte " + std::to_string(size) + ", inside "),
              std::string::npos)
        << run.console;
    // en's block is complete from byte 50 on; fr's never is.
    EXPECT_EQ(Everything(),
              Out({{"en.txt", size >= 50 ? "Hi\r\n" : "old en\r\n"}, {"fr.txt", "old fr\r\n"}}));
  }
}

#ifdef _WIN32
// Language names in the system's code page become files named by the
// characters they stand for (a byte inside a character is never a separator),
// or are skipped when they are not text in that code page.
TEST_F(Extract, CodePageNamesBecomeTheirCharacters) {
  struct Name {
    int codePage;
    std::string bytes;
    std::wstring file;  // empty when skipped
  };
  const Name names[] = {{1252, "Fran\347ais", L"Français"},
                        {1251, "\xD0\xF3\xF1\xF1\xEA\xE8\xE9", L"Русский"},
                        {932, "\x83\x7C\x83\x8B\x83\x67\x83\x4B\x83\x8B\x8C\xEA", L"ポルトガル語"},
                        {932, "\x95\x5C", L"表"},
                        {932, "\x93\xFA\x96\x7B\x8C\xEA", L"日本語"},
                        {932, "x\x81", L""},
                        {932, "bad\x82 x", L""},
                        {932, "bad\x81 x", L""}};
  locbuild::LocFile loc;
  std::string console;
  std::size_t written = 0;
  for (const Name& name : names) {
    if (name.codePage != gCodePage) continue;
    loc.languages.push_back({name.bytes, {"s"}});
    console += "Extracting " + name.bytes + "... " +
               (name.file.empty() ? "Skipped: not a name in this system's code page\n" : "Done!\n");
    written += name.file.empty() ? 0 : 1;
  }
  // A line longer than a console takes in one write before Windows 8.
  const std::string longest(32767, 'n');
  loc.languages.push_back({longest, {"s"}});
  console += "Extracting " + longest + "... Skipped: name too long for a file\n";
  Fresh();
  PutLoc(locbuild::BuildLoc(loc));
  // On a console the names show as characters, which the test run finds in
  // what the console showed.
  ProgramRun run = gOnConsole ? RunProgram(gProgram, work.string(), "", 30) : Run();
  EXPECT_EQ(run.exitStatus, 1);
  if (!gOnConsole) {
    EXPECT_NE(run.console.find(console), std::string::npos) << run.console;
  }
  EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(Output()), {})), written);
  for (const Name& name : names) {
    if (name.codePage != gCodePage || name.file.empty()) continue;
    EXPECT_EQ(ReadBytes(Output() / (name.file + L".txt")), "s\r\n");
  }
}
#endif

// Damages valid files at random and runs the program on each: it must end by
// itself, leave nothing but language files in "Output" and end every language
// line it starts; it reports damage exactly when it exits with -1.
TEST_F(Extract, RandomDamageNeverCrashesHangsOrLeavesStrayFiles) {
  unsigned long long seed = gDamageSeed != 0 ? gDamageSeed : std::random_device()();
  std::printf("random damage: %d runs, seed %llu (replay with --damage-seed)\n", gDamageRuns, seed);
  std::mt19937_64 random(seed);
  auto below = [&](std::size_t limit) { return limit == 0 ? 0 : random() % limit; };
  const std::int32_t counts[] = {0, -1, 1, 0x7FFFFFFF, INT32_MIN, kMaxKeys, kMaxKeys + 1, 0x7FFF};
  const Bytes originals[] = {kWorked, locbuild::Varied()};
  static const std::regex unended(R"((^|\n)Extracting [^\n]*\.\.\.(\n|$))");
  static const std::regex stray(R"(^(?!Output$|Output/[^/]*\.txt$).*)");
  for (int run = 0; run < gDamageRuns; ++run) {
    Bytes bytes = originals[below(2)];
    for (std::size_t edits = 1 + below(3); edits > 0; --edits) {
      std::size_t at = below(bytes.size() + 1), kind = below(4);
      Bytes count;  // a count, or in its last two bytes a length prefix
      locbuild::PutInt32(count, counts[below(std::size(counts))]);
      if (kind == 0 && at < bytes.size()) bytes[at] = static_cast<char>(bytes[at] ^ 1 << below(8));
      if (kind == 1) bytes.resize(at);
      if (kind == 2) bytes.replace(at, 4, count.substr(below(2) * 2));
      if (kind == 3) bytes.insert(at, count.substr(below(4)));
    }
    Fresh();
    PutLoc(bytes);
    ProgramRun result = Run();
    std::string strayName;
    for (const auto& [name, bytes] : Everything())
      strayName += std::regex_match(name, stray) ? name : "";
    bool damaged = result.console.find(kDamaged) != std::string::npos;
    if (result.killedBySignal || std::regex_search(result.console, unended) || !strayName.empty() ||
        damaged != (result.exitStatus == kDamagedStatus) || (!damaged && result.exitStatus > 1)) {
      Make(fs::current_path(), {{"random-damage-failing.loc", bytes}});
      FAIL() << "run " << run << " (seed " << seed << "): status " << result.exitStatus << " "
             << strayName << "; input kept as random-damage-failing.loc\n"
             << result.console;
    }
  }
}

// Whatever its environment allows, the program ends by itself with a status:
// with a console that no one reads, and under every address-space limit from
// 4 MiB up to where the run completes. What it leaves is whole or as it was.
#ifndef _WIN32
TEST_F(Extract, EnvironmentEndsItWithAReportNeverASignal) {
  const Files earlier = Out({{"en.txt", "earlier\r\n"}});
  auto prepare = [&] {
    Fresh();
    PutLoc(kWorked);
    Make(work, earlier);
  };
  prepare();
  ProgramRun unread = Run(nullptr, Limits{.closedConsole = true});
  EXPECT_EQ(unread.exitStatus, 0);
  EXPECT_EQ(Everything(), kWorkedFiles);
  const std::string ranOut = "does not fit in memory at byte <n>.\n" + kPrompt;
  int completed = 0;
  for (unsigned long kib = 4 << 10; completed < 3 && kib < 64 << 10; kib += 32) {
    SCOPED_TRACE(std::to_string(kib) + " KiB of address space");
    prepare();
    ProgramRun run = Run(nullptr, Limits{.addressSpaceKiB = kib});
    completed += run.exitStatus == 0;
    ASSERT_FALSE(run.killedBySignal);
    // 127: the loader found no room for the libraries, and said so.
    if (run.exitStatus != 0 && run.exitStatus != 127) {
      ASSERT_EQ(run.exitStatus, kDamagedStatus);
      ASSERT_TRUE(run.console.ends_with(ranOut)) << run.console;
    }
    for (const auto& [name, bytes] : Everything()) {
      ASSERT_TRUE(kWorkedFiles.at(name) == bytes || earlier.at(name) == bytes) << name;
    }
  }
  EXPECT_EQ(completed, 3);
}
#endif

// Languages of `strings` strings of varied sizes (a third hold an LF), and
// the files they make.
locbuild::LocFile ManyStrings(int languages, int strings, Files& fresh) {
  locbuild::LocFile loc;
  for (int i = 0; i < languages; ++i) {
    auto& language = loc.languages.emplace_back(locbuild::Language{"L" + std::to_string(i), {}, 0});
    for (int k = 0; k < strings; ++k) {
      language.strings.push_back(std::string(40 + (k * 37 + i) % 120, char('a' + k % 26)) +
                                 (k % 3 == 0 ? "\nline" : ""));
    }
    fresh["Output/" + language.name + ".txt"] = locbuild::ExpectedText(language.strings);
  }
  return loc;
}

// PID namespaces, as containers have, need root.
bool CanMakePidNamespaces() {
#ifdef _WIN32
  return false;
#else
  return geteuid() == 0;
#endif
}

// Stops runs at random moments, and right when a new file appears in
// "Output": whatever ends the process, "Output" holds only language files,
// each with its earlier content or its complete new content, and at most the
// temporary file of a run killed outright. The next run leaves only language
// files, all complete. The first process of a PID namespace (a container's)
// ends on a stop signal too, and what its kill leaves is removed by a run
// outside the namespace.
TEST_F(Extract, StoppedAtAnyMomentLeavesOnlyWholeFiles) {
  Files earlier, fresh{{"Output", "<folder>"}};
  const int strings = gFileSystem.empty() ? 8000 : 3000;  // FUSE mounts write slowly
  locbuild::LocFile loc = ManyStrings(16, strings, fresh);
  for (int i = 0; i < 16; i += 2)
    earlier["Output/" + loc.languages[i].name + ".txt"] = "earlier\r\n";
  Make(work, {{"languages.loc", locbuild::BuildLoc(loc)}});
  auto restart = [&] {
    fs::remove_all(Output());
    Make(work, earlier);
  };
  static const std::regex temporary(R"(Output/vornhold-[0-9]+-[0-9]+\.tmp)");
  auto stray = [&](bool temporaryToo) {
    for (const auto& [name, bytes] : Everything()) {
      if (!temporaryToo && std::regex_match(name, temporary)) continue;
      if (fresh.count(name) == 0 || (bytes != fresh[name] && bytes != "earlier\r\n")) return name;
    }
    return std::string();
  };
  restart();
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Run().exitStatus, 0);
  const auto whole = static_cast<unsigned>(
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
          .count());
  ASSERT_TRUE(Everything() == fresh) << stray(true);  // too large to show whole
  struct Way {
    int signal;
    bool mayLeaveOne = false;  // a kill that no clean-up outlives
    bool ownPidNamespace = false;
    bool toProcessGroup = false;  // as a terminal's Ctrl+C
  };
  const Way ways[] = {
#ifdef _WIN32
      // A stop between a file's creation and its deletion mark, or between
      // clearing the mark and the rename, leaves it. Three rounds.
      {0, true},
      {0, true},
      {0, true}};
#else
      // SIGTERM stands for the stop signals that share one handler.
      {SIGTERM},
      {SIGINT, false, false, true},
      {SIGKILL, true},
      {SIGTERM, false, true},
      {SIGKILL, true, true}};
#endif
  std::mt19937 random(7);
  bool skipped = false;
  for (const Way& way : ways) {
    if (way.ownPidNamespace && !CanMakePidNamespaces()) {
      skipped = true;
      continue;
    }
    for (int moment = 0; moment < 4; ++moment) {  // the last right when a new file appears
      Stop stop{moment == 3 ? 10ul * whole : random() % whole, moment == 3 ? Output().string() : "",
                way.signal, way.toProcessGroup};
      SCOPED_TRACE("signal " + std::to_string(way.signal) +
                   (way.ownPidNamespace ? " in a PID namespace" : "") + ", after " +
                   std::to_string(stop.afterMicroseconds) + " us, " + stop.watchFolder);
      restart();
      // A run stopped half-way through ends by the stop: killed by the signal,
      // or where that cannot kill it (a PID namespace's first process), with
      // the status a shell gives such a death; TerminateProcess's on Windows.
      // (`unshare` reports its child's death by SIGKILL as a failure of its own.)
      ProgramRun stopped = Run(&stop, {.ownPidNamespace = way.ownPidNamespace});
      if (moment == 3 && !(way.ownPidNamespace && way.mayLeaveOne)) {
        EXPECT_TRUE(stopped.killedBySignal || stopped.exitStatus == kStoppedStatus + way.signal)
            << stopped.exitStatus;
      }
      // Wine closes a killed program's files a moment after it ends.
      for (int wait = 0; wait < 300 && !stray(!way.mayLeaveOne).empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(stray(!way.mayLeaveOne), "");
      EXPECT_EQ(Run().exitStatus, 0);
      EXPECT_TRUE(Everything() == fresh) << stray(true);
    }
  }
  if (skipped) GTEST_SKIP() << "the stops in a PID namespace need root";
}

#ifndef _WIN32
// Two runs share one "Output", as two containers share a USB stick: one
// writes 3,000 languages while the other, in a PID namespace of its own,
// starts again and again and sweeps the folder of left-over temporary files.
// It takes none of the writing run's files, whatever process ids they name.
TEST_F(Extract, ARunInAnotherPidNamespaceSweepsOnlyWhatNoOneHolds) {
  if (!CanMakePidNamespaces()) GTEST_SKIP() << "PID namespaces need root";
  Files fresh{{"Output", "<folder>"}};
  PutLoc(locbuild::BuildLoc(ManyStrings(3000, 2, fresh)));
  // Its folder is elsewhere (exFAT has no links), its "Output" a link to ours.
  TempFolder neighbour("neighbour", fs::temp_directory_path());
  fs::create_directory_symlink(Output(), neighbour.path / "Output");
  for (int round = 0; round < 5; ++round) {  // the first makes the files, the others replace them
    SCOPED_TRACE("round " + std::to_string(round));
    std::atomic<bool> writing = true;
    int sweeps = 0;
    std::thread sweeper([&] {
      for (; writing; ++sweeps) {
        RunProgram(gProgram, neighbour.path.string(), (side.path / "neighbour.txt").string(), 30,
                   nullptr, {.ownPidNamespace = true});
      }
    });
    ProgramRun run = Run();
    writing = false;
    sweeper.join();
    EXPECT_GT(sweeps, 1);
    EXPECT_EQ(run.exitStatus, 0) << run.console.substr(0, 2000);
    EXPECT_TRUE(Everything() == fresh);
  }
}

// A power cut a moment after a run that replaced some files and made others,
// once another program has synced a file of its own (which commits the
// journal, renames included): in the disk's state at that moment, every
// language file is as it was or complete, never empty or cut.
TEST_F(Extract, PowerCutLeavesEveryFileAsItWasOrComplete) {
  if (gMountScript.empty()) GTEST_SKIP() << "needs a mounted disk image to copy (--mount-script)";
  Files fresh{{"Output", "<folder>"}}, earlier{{"Output", "<folder>"}};
  PutLoc(locbuild::BuildLoc(ManyStrings(12, 200, fresh)));
  for (int i = 0; i < 12; i += 2) earlier["Output/L" + std::to_string(i) + ".txt"] = "earlier\r\n";
  Make(work, earlier);
  sync();
  ASSERT_EQ(Run().exitStatus, 0);
  {
    std::ofstream other(side.path / "other", std::ios::binary);
    other << "another program's file";
  }
  int other = open((side.path / "other").c_str(), O_WRONLY);
  ASSERT_EQ(fsync(other), 0);
  close(other);
  const std::string copy = gScratch + "-cut";
  ASSERT_EQ(std::system(("bash " + gMountScript + " cut " + gScratch + " " + copy).c_str()), 0);
  Files cut = Snapshot(fs::path(copy) / fs::relative(work, gScratch));
  std::system(("bash " + gMountScript + " unmount " + copy).c_str());
  cut.erase("languages.loc");
  for (const auto& [name, bytes] : fresh) {
    SCOPED_TRACE(name);
    if (cut.count(name) == 0) {
      EXPECT_EQ(earlier.count(name), 0u) << "an earlier file is gone";
    } else {
      EXPECT_TRUE(cut[name] == bytes || (earlier.count(name) > 0 && cut[name] == earlier[name]))
          << cut[name].size() << " bytes";
    }
  }
  for (const auto& [name, bytes] : cut) EXPECT_EQ(fresh.count(name), 1u) << name;
}
#endif

#ifdef _WIN32
// Another program holds "Output\en.txt" open, as a virus scanner or a sync
// client holds a file just written: held for a moment, it is waited for and
// replaced; held all along, its language fails after the waiting, and the
// earlier file stays.
TEST_F(Extract, AFileThatAnotherProgramHoldsIsWaitedFor) {
  for (DWORD share : {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}) {
    for (bool allAlong : {false, true}) {
      SCOPED_TRACE("share mode " + std::to_string(share) + (allAlong ? ", all along" : ""));
      Fresh();
      PutLoc(kWorked);
      Make(work, {{"Output/en.txt", "earlier\r\n"}});
      HANDLE holder = CreateFileW((Output() / "en.txt").c_str(), GENERIC_READ, share, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(holder, INVALID_HANDLE_VALUE);
      std::thread release([&] {
        if (!allAlong) Sleep(500);
        if (!allAlong) CloseHandle(holder);
      });
      ProgramRun run = Run();
      release.join();
      if (allAlong) CloseHandle(holder);
      EXPECT_EQ(run.exitStatus, allAlong ? 1 : 0);
      EXPECT_EQ(
          run.console,
          kBanner +
              (allAlong ? Header(2, 2, 1) + kSeparator + "Extracting en... Failed: <reason>\n" +
                              Done("fr") + Summary(2) + "1 languages could not be written.\n"
                        : kWorkedConsole) +
              kPrompt);
      EXPECT_EQ(Everything(), allAlong ? Out({{"en.txt", "earlier\r\n"}, {"fr.txt", "Salut\r\n"}})
                                       : kWorkedFiles);
    }
  }
}
#endif

// On a disk that a language does not fit on, its line says why in the
// system's words and its earlier file stays; the next language is written.
TEST_F(Extract, FullDiskSaysSoAndKeepsTheEarlierFile) {
  if (gFileSystem.empty()) GTEST_SKIP() << "needs a small mounted file system (--scratch)";
  PutLoc(BigAndSmall());
  Make(work, {{"Output/big.txt", "earlier big\r\n"}});
  {
    std::ofstream filler(side.path / "filler", std::ios::binary);
    const std::string block(64 << 10, 'f');
    while (fs::space(work).available > 2 * block.size() && filler.write(block.data(), block.size()))
      filler.flush();
  }
  ProgramRun run = Run();
  // The system's words for it: on POSIX systems, on Windows, under wine.
  static const std::regex kDiskFull(
      "Extracting big\\.\\.\\. Failed: (No space left on device|There is not enough space on the "
      "disk|Disk full)\r?\n");
  EXPECT_TRUE(std::regex_search(ReadBytes(side.path / "console.txt"), kDiskFull)) << run.console;
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(Everything(), Out({{"big.txt", "earlier big\r\n"}, {"small.txt", "fits\r\n"}}));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i], value = argv[i + 1];
    if (option == "--program") gProgram = fs::absolute(value).string();
    if (option == "--damage-runs") gDamageRuns = std::atoi(value.c_str());
    if (option == "--damage-seed") gDamageSeed = std::strtoull(value.c_str(), nullptr, 10);
    if (option == "--code-page") gCodePage = std::atoi(value.c_str());
    if (option == "--scratch") gScratch = value;
    if (option == "--mount-script") gMountScript = value;
    if (option == "--on-console") gOnConsole = value == "yes";
  }
  if (gProgram.empty()) {
    std::fprintf(stderr, "usage: e2e_tests --program PATH\n");
    return 2;
  }
  if (!gScratch.empty()) {
    SetTempRoot(gScratch);
    std::ifstream(fs::path(gScratch) / "file-system") >> gFileSystem;
  }
  return RUN_ALL_TESTS();
}
