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

// Set by the test run: --program, --damage-runs and --damage-seed (0: from the
// clock), --code-page (wine takes it from LANG), --on-console yes (the
// program's output goes to this test's console), --scratch (a mounted file
// system for the folders, whose kind its file "file-system" names) and the
// --mount-script that mounted it, which can also copy its disk at a moment;
// --named-files yes where the program names its temporary files.
std::string gProgram, gScratch, gFileSystem, gMountScript, gOnConsole, gNamedFiles;
int gDamageRuns, gCodePage;
unsigned long long gDamageSeed = 0;

const std::string kBanner =
    "Vornhold String Extractor\nUnpacks languages.loc into one text file per language\n"
    "========================\n";
const std::string kSeparator = "========================\n", kPrompt = "\nPress enter to exit...";
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
std::string Failed(const std::string& name) {
  return "Extracting " + name + "... Failed: <reason>\n";
}
std::string Summary(int strings, int unwritten = 0) {
  return "Extracted " + std::to_string(strings) + " strings in 0.00s seconds\n" +
         (unwritten > 0 ? std::to_string(unwritten) + " languages could not be written.\n" : "");
}

// The parts of the console text that vary: line ends (CR LF on Windows), the
// time, and the system's words for a failure.
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
Files Out(const Files& files) {
  Files all{{"Output", "<folder>"}};
  for (auto& [name, bytes] : files) all["Output/" + name] = bytes;
  return all;
}

class Extract : public ::testing::Test {
 public:
  TempFolder top{"work"}, side{"side"};
  fs::path work = top.path;  // where the program runs

  void SetUp() override {
    if (!gScratch.empty() && gFileSystem.empty()) GTEST_SKIP() << "no file system mounted";
  }
  fs::path Output() const { return work / "Output"; }
  void Fresh(const Bytes& loc, const Files& before = {}) {
    fs::remove_all(work);
    fs::create_directories(work);
    Make(work, before);
    if (!loc.empty()) Make(work, {{"languages.loc", loc}});
  }
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

// Header claims 9 strings; the blocks hold 3 in all. Counts of 0 and -4 give
// empty files; a name may repeat (the later block wins) or be empty; a
// negative length prefix is an empty string of two bytes.
Bytes OwnCounts() {
  Bytes loc;
  locbuild::PutHeader(loc, 1, 5, 9);
  loc.append(36, '\7');
  for (const char* name : {"a", "b", "a", "", "c"}) {
    locbuild::PutCountedString(loc, name);
    locbuild::PutInt32(loc, 0);
  }
  for (auto [name, count, text] :
       {std::tuple{"a", 1, "first a"}, {"b", 0, ""}, {"a", 1, "second a"}, {"", -4, ""}}) {
    locbuild::PutBlockHead(loc, name, count);
    if (count > 0) locbuild::PutCountedString(loc, text);
  }
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

// One language with the counts given, its block cut inside its second string.
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

// A directory of `names` names of `size` bytes, claiming ever more.
[[maybe_unused]] Bytes Directory(int names, std::size_t size) {
  Bytes loc, entry;
  locbuild::PutHeader(loc, 1, 0x7FFFFFFF, 0);
  locbuild::PutCountedString(entry, std::string(size, 'x'));
  locbuild::PutInt32(entry, 0);
  for (; names > 0; --names) loc += entry;
  return loc;
}

// Names that cannot be file names, then "ok": the file, and the console from
// the header to the summary. Each is shown whole (control bytes as \xHH),
// also one just over the console's kilobyte buffer, and one of the longest.
std::pair<Bytes, std::string> Skipped() {
  const char* reasons[] = {"unsafe file name", "name of the form of another file's short name",
                           "name too long for a file",
                           "bytes that a file system may read as another name"};
  std::vector<std::tuple<std::string, std::string, int>> names = {
      {"../escape", "../escape", 0},   {"..\\up", "..\\up", 0},     {"C:x", "C:x", 0},
      {"/tmp/x", "/tmp/x", 0},         {"lpt1 ", "lpt1 ", 0},       {"bell\x07", "bell\\x07", 0},
      {{"nul\0", 4}, "nul\\x00", 0},   {"ENGLIS~1", "ENGLIS~1", 1}, {std::string(1500, 'n'), "", 2},
      {std::string(32767, 'n'), "", 2}};
#ifndef _WIN32  // bytes that exFAT reads as "/", a NUL and a surrogate; characters on Windows
  for (std::string name : {"a\xC0\xAF\x62", "a\xC0\x80\x62", "sur\xED\xA0\x80"}) {
    names.emplace_back(name, name, 3);
  }
#endif
  locbuild::LocFile loc;
  std::string console;
  for (const auto& [name, shown, reason] : names) {
    loc.languages.push_back({name, {"x"}});
    console +=
        "Extracting " + (shown.empty() ? name : shown) + "... Skipped: " + reasons[reason] + "\n";
  }
  loc.languages.push_back({"ok", {"fine"}});
  int count = static_cast<int>(names.size()) + 1;
  return {locbuild::BuildLoc(loc),
          Header(2, count, 0) + kSeparator + console + Done("ok") + Summary(count, count - 1)};
}

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

const Bytes kWorked = locbuild::WorkedExample();
const std::string kWorkedConsole =
    Header(2, 2, 1) + kSeparator + Done("en") + Done("fr") + Summary(2);
const Files kWorkedFiles = Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}});
const std::string kMissing =
    "\"languages.loc\" could not be opened. Please make sure it isn't being used elsewhere on "
    "your computer and that it is in the same folder as this program. Reason: <reason>.";
const std::string kNoFolder = "Folder Output could not be made: <reason>\n" + Header(2, 2, 1) +
                              kSeparator + Failed("en") + Failed("fr") + Summary(2, 2);
// The program's own needs, a few MiB, and twice a 12 MB directory fit.
constexpr Limits kAddressSpace24MiB{.addressSpaceKiB = 24 << 10};

// clang-format off
const Case kCases[] = {
    {"the worked example", kWorked, {}, 0, kWorkedConsole, kWorkedFiles},
    {"no input", "", {}, kDamagedStatus, kMissing, Out({})},
    {"a folder as input", "", {{"languages.loc", "<folder>"}}, kDamagedStatus, kMissing, Out({})},
    {"no languages", Huge(-5, 0, 0), {}, 0, Header(1, -5, 0) + kSeparator + Summary(0), Out({})},
    {"blocks read as their own counts say", OwnCounts(), {}, 0,
     Header(1, 5, 9) + kSeparator + Done("a") + Done("b") + Done("a") + Done("") + Done("c") +
         Summary(3), Out({{"a.txt", "second a\r\n"}, {"b.txt", ""}, {".txt", ""}, {"c.txt", "\r\n"}})},
    {"bytes kept, every LF as CR LF", locbuild::BuildLoc({2, {1}, {{"odd", kOddBytes}}}), {}, 0,
     Header(2, 1, 1) + kSeparator + Done("odd") + Summary(6),
     Out({{"odd.txt", locbuild::ExpectedText(kOddBytes)}})},
    {"a second run replaces language files only", kWorked,
     {{"Output/en.txt", "an older and much longer text\r\n"}, {"Output/notes.txt", "mine"}}, 0,
     kWorkedConsole, Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}, {"notes.txt", "mine"}})},
    {"a cut inside a language ends its line first", kWorked.substr(0, 63), {}, kDamagedStatus,
     Header(2, 2, 1) + kSeparator + Done("en") + "Extracting fr... Failed!\n" + kDamaged +
         "it ends at byte 63, inside the strings of language fr.\n", Out({{"en.txt", "Hi\r\n"}})},
    {"a huge language count", Huge(0x7FFFFFFF, 1, 1), {}, kDamagedStatus,
     Header(1, 0x7FFFFFFF, 1) + kDamaged + "it ends at byte 55, inside the language directory.\n",
     Out({})},
    {"left-over temporary files go, whatever process ids they name", kWorked,
     {{"Output/vornhold-2147483647-1.tmp", "left"}, {"Output/vornhold-1-2.tmp", "left"},
      {"Output/vornhold-2147483647-x.tmp", "mine"}, {"Output/vornhold-.tmp", "mine"}}, 0,
     kWorkedConsole, Out({{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"},
                          {"vornhold-2147483647-x.tmp", "mine"}, {"vornhold-.tmp", "mine"}})},
    {"a huge key count", Huge(1, kMaxKeys, 1), {}, kDamagedStatus,
     Header(1, 1, kMaxKeys) + kDamaged + "it ends at byte 55, inside the key table.\n", Out({})},
    {"a huge string count", Huge(1, 1, 0x7FFFFFFF), {}, kDamagedStatus,
     Header(1, 1, 1) + kSeparator + "Extracting en... Failed!\n" + kDamaged +
         "it ends at byte 55, inside the strings of language en.\n", Out({})},
    {"a negative string count", Huge(1, -1, 1), {}, kDamagedStatus,
     Header(1, 1, -1) + kDamaged + "string count -1 is out of range.\n", Out({})},
    {"a string count past the largest", Huge(1, kMaxKeys + 1, 1), {}, kDamagedStatus,
     Header(1, 1, kMaxKeys + 1) + kDamaged + "string count 1073741824 is out of range.\n", Out({})},
    {"names that cannot be file names", Skipped().first, {}, 1, Skipped().second,
     Out({{"ok.txt", "fine\r\n"}})},
    {"a file named Output", kWorked, {{"Output", "not a folder"}}, 1, kNoFolder,
     {{"Output", "not a folder"}}},
    {"a folder where a language file goes", kWorked, {{"Output/en.txt", "<folder>"}}, 1,
     Header(2, 2, 1) + kSeparator + Failed("en") + Done("fr") + Summary(2, 1),
     Out({{"en.txt", "<folder>"}, {"fr.txt", "Salut\r\n"}})},
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
     Header(2, 2, 0) + kSeparator + Failed("big") + Done("small") + Summary(3, 1),
     Out({{"big.txt", "earlier big\r\n"}, {"small.txt", "fits\r\n"}}), {.fileSizeBytes = 100'000}},
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
     "Reading process started...\n" + kDamaged + "it ends at byte 0, inside the header.\n", Out({})},
    {"a folder that the user may not write", kWorked, {}, 1, kNoFolder, {}, {.ordinaryUser = true},
     "Folder Output could not be made: Permission denied\n"},
#endif
};
// clang-format on

TEST_F(Extract, EveryCaseGivesItsConsoleFilesAndStatus) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Fresh(c.loc, c.before);
    // An ordinary user may not write a folder of root's that only root may write.
    if (c.limits.ordinaryUser) {
      fs::permissions(work, fs::perms::owner_write, fs::perm_options::remove);
    }
    ProgramRun run = Run(nullptr, c.limits);
    fs::permissions(work, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(run.exitStatus, c.status);
    EXPECT_EQ(run.waitedForEnter, c.limits.enterAfterPrompt);
    EXPECT_EQ(run.console, kBanner + c.console + kPrompt);
    EXPECT_NE(ReadBytes(side.path / "console.txt").find(c.said), std::string::npos);
    EXPECT_EQ(Everything(), c.after);
  }
}

#ifdef _WIN32
// Language names in the system's code page become files named by the
// characters they stand for (a byte inside a character is never a separator),
// or are skipped when they are not text in that code page. On a console they
// show as those characters (the test run finds them in what the console
// showed), also on a line longer than a console took in one write before
// Windows 8.
TEST_F(Extract, CodePageNamesBecomeTheirCharacters) {
  const std::tuple<int, std::string, std::wstring> names[] = {
      {1252, "Fran\347ais", L"Français"},
      {1251, "\xD0\xF3\xF1\xF1\xEA\xE8\xE9", L"Русский"},
      {932, "\x83\x7C\x83\x8B\x83\x67\x83\x4B\x83\x8B\x8C\xEA", L"ポルトガル語"},
      {932, "\x95\x5C", L"表"},
      {932, "\x93\xFA\x96\x7B\x8C\xEA", L"日本語"},
      {932, "x\x81", L""},  // not text in the code page: skipped
      {932, "bad\x82 x", L""},
      {932, "bad\x81 x", L""}};
  const std::string longest(32767, 'n');
  locbuild::LocFile loc{2, {}, {{longest, {"s"}}}};
  std::string console = "Extracting " + longest + "... Skipped: name too long for a file\n";
  Files files;
  for (const auto& [page, bytes, file] : names) {
    if (page != gCodePage) continue;
    loc.languages.push_back({bytes, {"s"}});
    console += "Extracting " + bytes + "... " +
               (file.empty() ? "Skipped: not a name in this system's code page\n" : "Done!\n");
    if (!file.empty()) files[fs::path(file + L".txt").string()] = "s\r\n";
  }
  Fresh(locbuild::BuildLoc(loc));
  ProgramRun run = gOnConsole == "yes" ? RunProgram(gProgram, work.string(), "", 30) : Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(gOnConsole == "yes" || run.console.find(console) != std::string::npos) << run.console;
  EXPECT_EQ(Everything(), Out(files));
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
    Fresh("", {{"languages.loc", bytes}});
    ProgramRun result = Run();
    std::string strays;
    for (const auto& [name, bytes] : Everything())
      strays += std::regex_match(name, stray) ? name : "";
    bool damaged = result.console.find(kDamaged) != std::string::npos;
    if (result.killedBySignal || std::regex_search(result.console, unended) || !strays.empty() ||
        damaged != (result.exitStatus == kDamagedStatus) || (!damaged && result.exitStatus > 1)) {
      Make(fs::current_path(), {{"random-damage-failing.loc", bytes}});
      FAIL() << "run " << run << " (seed " << seed << "): status " << result.exitStatus << " "
             << strays << "; input kept as random-damage-failing.loc\n"
             << result.console;
    }
  }
}

#ifndef _WIN32
// A console that no one reads (a pipe whose reader is gone) is no reason to
// stop: the files are written all the same.
TEST_F(Extract, AConsoleThatNoOneReadsStopsNothing) {
  Fresh(kWorked, Out({{"en.txt", "earlier\r\n"}}));
  EXPECT_EQ(Run(nullptr, {.closedConsole = true}).exitStatus, 0);
  EXPECT_EQ(Everything(), kWorkedFiles);
}
#endif

// Languages of `strings` strings of varied sizes (a third hold an LF); the
// files they make, and earlier ones for every other language.
locbuild::LocFile Languages(int languages, int strings, Files& fresh, Files& earlier) {
  locbuild::LocFile loc;
  fresh = earlier = Out({});
  for (int i = 0; i < languages; ++i) {
    auto& language = loc.languages.emplace_back(locbuild::Language{"L" + std::to_string(i), {}});
    for (int k = 0; k < strings; ++k) {
      language.strings.push_back(std::string(40 + (k * 37 + i) % 120, char('a' + k % 26)) +
                                 (k % 3 == 0 ? "\nline" : ""));
    }
    fresh["Output/" + language.name + ".txt"] = locbuild::ExpectedText(language.strings);
    if (i % 2 == 1) earlier["Output/" + language.name + ".txt"] = "earlier\r\n";
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
  Files fresh, earlier;
  // Long enough to stop inside every step; FUSE mounts write slowly.
  Bytes loc =
      locbuild::BuildLoc(Languages(16, gFileSystem == "exfat" ? 3000 : 8000, fresh, earlier));
  static const std::regex temporary(R"(Output/vornhold-[0-9]+-[0-9]+\.tmp)");
  auto stray = [&](bool temporaryToo) {
    for (const auto& [name, bytes] : Everything()) {
      if (!temporaryToo && std::regex_match(name, temporary)) continue;
      if (fresh.count(name) == 0 || (bytes != fresh[name] && bytes != "earlier\r\n")) return name;
    }
    return std::string();
  };
  Fresh(loc, earlier);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Run().exitStatus, 0);
  const auto whole = static_cast<unsigned long>(
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
          .count());
  ASSERT_TRUE(Everything() == fresh) << stray(true);  // too large to show whole
  struct Way {
    int signal;
    bool mayLeaveOne = false;  // a kill that no clean-up outlives
    bool ownPidNamespace = false, toProcessGroup = false;
    bool ignored = false;  // a hangup under nohup, which stops nothing
  };
#ifdef _WIN32
  // A stop between a file's creation and its deletion mark, or between
  // clearing the mark and the rename, leaves it. Three rounds.
  const Way ways[] = {{0, true}, {0, true}, {0, true}};
  const bool named = true;
#else
  // Where files have no name while they are written, a kill leaves one only
  // in the moment of replacing an earlier file: not when the first, new, one
  // appears.
  const bool named = gNamedFiles == "yes";
  // SIGTERM stands for the stop signals that share one handler; a terminal's
  // Ctrl+C goes to the process group.
  const Way ways[] = {{SIGTERM},
                      {SIGHUP, false, false, false, true},
                      {SIGINT, false, false, true},
                      {SIGKILL, true},
                      {SIGTERM, false, true},
                      {SIGKILL, true, true}};
#endif
  std::mt19937 random(7);
  bool skipped = false;
  for (const Way& way : ways) {
    skipped = skipped || (way.ownPidNamespace && !CanMakePidNamespaces());
    for (int moment = 0; moment < 4 && !(way.ownPidNamespace && !CanMakePidNamespaces());
         ++moment) {  // the last right when a new file appears
      Stop stop{moment == 3 ? 10 * whole : random() % whole, moment == 3 ? Output().string() : "",
                way.signal, way.toProcessGroup};
      SCOPED_TRACE("signal " + std::to_string(way.signal) +
                   (way.ownPidNamespace ? " in a PID" : "") + ", after " +
                   std::to_string(stop.afterMicroseconds) + " us " + stop.watchFolder);
      Fresh(loc, earlier);
      // A run stopped half-way through ends by the stop: killed by the signal,
      // or where that cannot kill it (a PID namespace's first process), with
      // the status a shell gives such a death; TerminateProcess's on Windows.
      // (`unshare` reports its child's death by SIGKILL as a failure of its own.)
      ProgramRun stopped =
          Run(&stop, {.ownPidNamespace = way.ownPidNamespace, .hangupIgnored = way.ignored});
      EXPECT_TRUE(!way.ignored || (stopped.exitStatus == 0 && Everything() == fresh));
      if (moment == 3 && !(way.ownPidNamespace && way.mayLeaveOne) && !way.ignored) {
        EXPECT_TRUE(stopped.killedBySignal || stopped.exitStatus == kStoppedStatus + way.signal)
            << stopped.exitStatus;
      }
      // Wine closes a killed program's files a moment after it ends.
      const bool mayLeaveOne = way.mayLeaveOne && (named || moment != 3);
      for (int wait = 0; wait < 300 && !stray(!mayLeaveOne).empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(stray(!mayLeaveOne), "");
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
  Files fresh, earlier;
  Fresh(locbuild::BuildLoc(Languages(3000, 2, fresh, earlier)));
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
  Files fresh, earlier;
  Fresh(locbuild::BuildLoc(Languages(12, 200, fresh, earlier)), earlier);
  sync();
  ASSERT_EQ(Run().exitStatus, 0);
  Make(side.path, {{"other", "another program's file"}});
  int other = open((side.path / "other").c_str(), O_WRONLY);
  ASSERT_EQ(fsync(other), 0);
  close(other);
  const std::string copy = gScratch + "-cut";
  ASSERT_EQ(std::system(("bash " + gMountScript + " cut " + gScratch + " " + copy).c_str()), 0);
  Files cut = Snapshot(fs::path(copy) / fs::relative(work, gScratch));
  std::system(("bash " + gMountScript + " unmount " + copy).c_str());
  cut.erase("languages.loc");
  auto holds = [](const Files& files, const std::string& name, const std::string& bytes) {
    return files.count(name) > 0 && files.at(name) == bytes;
  };
  for (const auto& [name, bytes] : cut) {
    EXPECT_TRUE(holds(fresh, name, bytes) || holds(earlier, name, bytes)) << name << bytes.size();
  }
  for (const auto& [name, bytes] : earlier) EXPECT_EQ(cut.count(name), 1u) << name << " is gone";
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
      Fresh(kWorked, {{"Output/en.txt", "earlier\r\n"}});
      HANDLE holder = CreateFileW((Output() / "en.txt").c_str(), GENERIC_READ, share, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
      std::thread release([&] {
        if (!allAlong) Sleep(500), CloseHandle(holder);
      });
      ProgramRun run = Run();
      release.join();
      if (allAlong) CloseHandle(holder);
      EXPECT_EQ(run.exitStatus, allAlong ? 1 : 0);
      EXPECT_EQ(run.console, kBanner +
                                 (allAlong ? Header(2, 2, 1) + kSeparator + Failed("en") +
                                                 Done("fr") + Summary(2, 1)
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
  Fresh(BigAndSmall(), {{"Output/big.txt", "earlier big\r\n"}});
  std::ofstream filler(side.path / "filler", std::ios::binary);
  for (const std::string block(64 << 10, 'f');
       fs::space(work).available > 2 * block.size() && filler.write(block.data(), block.size());) {
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
  std::map<std::string, std::string> options;
  for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  gProgram = options["--program"], gScratch = options["--scratch"];
  gMountScript = options["--mount-script"], gOnConsole = options["--on-console"];
  gNamedFiles = options["--named-files"];
  gDamageRuns = std::atoi(options["--damage-runs"].c_str());
  gDamageSeed = std::strtoull(options["--damage-seed"].c_str(), nullptr, 10);
  gCodePage = std::atoi(options["--code-page"].c_str());
  if (gProgram.empty()) return std::fprintf(stderr, "usage: e2e_tests --program PATH\n"), 2;
  gProgram = fs::absolute(gProgram).string();
  if (!gScratch.empty()) {
    SetTempRoot(gScratch);
    std::ifstream(fs::path(gScratch) / "file-system") >> gFileSystem;
  }
  return RUN_ALL_TESTS();
}
