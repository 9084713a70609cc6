// Runs the built program as a user would: in a fresh folder holding a LOC file
// made by the builder, checking the console text, every byte in "Output" and
// the exit status. The program is named on the command line (--program PATH),
// so the same tests run against every build of it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "locbuild/loc_builder.hpp"
#include "support/files.hpp"
#include "support/program_runner.hpp"

using locbuild::Bytes;
using Files = std::map<std::string, std::string>;

namespace {

std::string gProgram;
std::string gNamedTempProgram;  // the build that always writes named temporary files
int gDamageRuns = 2000;
unsigned long long gDamageSeed = 0;  // 0: pick one from the clock

const std::string kBanner =
    "Vornhold String Extractor\n"
    "Unpacks languages.loc into one text file per language\n"
    "========================\n";
const std::string kSeparator = "========================\n";
const std::string kPrompt = "\nPress enter to exit...";
const std::string kMissing =
    "\"languages.loc\" could not be opened. Please make sure it isn't being used elsewhere on your "
    "computer and that it is in the same folder as this program.";
constexpr int kDamagedStatus = 255;  // -1 as a shell sees it
constexpr std::int32_t kMaxKeys = 1'073'741'823;

std::string Header(int version, int languages, int strings) {
  return "Reading process started...\nLOC File Version: " + std::to_string(version) +
         "\nNumber of Languages: " + std::to_string(languages) +
         "\nNumber of Strings: " + std::to_string(strings) + "\n";
}

std::string Summary(int strings) {
  return "Extracted " + std::to_string(strings) + " strings in 0.00s seconds\n";
}

// The elapsed time is the one part of the console text that varies.
std::string WithoutTime(const std::string& console) {
  static const std::regex time(R"(strings in [0-9]+\.[0-9][0-9]s seconds)");
  return std::regex_replace(console, time, "strings in 0.00s seconds");
}

// The 70-byte file with languages en and fr, one key and one string each.
Bytes WorkedExample() {
  locbuild::LocFile loc;
  loc.version = 2;
  loc.keys = {0x12345678};
  loc.languages = {{"en", {"Hi"}, 0x10}, {"fr", {"Salut"}, 0x10}};
  return locbuild::BuildLoc(loc);
}

class Extract : public ::testing::Test {
 protected:
  TempFolder work{"work"};
  TempFolder side{"side"};

  fs::path Output() const { return work.path / "Output"; }
  void PutLoc(const Bytes& bytes) { WriteBytes(work.path / "languages.loc", bytes); }
  void PutOutputFile(const std::string& name, const std::string& bytes) {
    fs::create_directories(Output());
    WriteBytes(Output() / name, bytes);
  }

  // Feeds `input` to the program's standard input; nullptr feeds nothing at all.
  ProgramRun Run(const char* input = "\n") {
    std::string stdinPath;
    if (input != nullptr) {
      stdinPath = (side.path / "stdin.txt").string();
      WriteBytes(stdinPath, input);
    }
    ProgramRun run = RunProgram(gProgram, work.path.string(), stdinPath,
                                (side.path / "console.txt").string(), 30);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(run.killedBySignal);
    run.console = WithoutTime(run.console);
    return run;
  }
  Files OutputFiles() const { return fs::exists(Output()) ? Snapshot(Output()) : Files{}; }
};

TEST_F(Extract, WorkedExampleGivesExactConsoleAndFiles) {
  Bytes loc = WorkedExample();
  ASSERT_EQ(loc.size(), 70u);
  PutLoc(loc);
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.console, kBanner + Header(2, 2, 1) + kSeparator + "Extracting en... Done!\n" +
                             "Extracting fr... Done!\n" + Summary(2) + kPrompt);
  EXPECT_EQ(OutputFiles(), (Files{{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}}));
}

TEST_F(Extract, MissingInputIsReportedAfterTheFolderIsMade) {
  ProgramRun run = Run(nullptr);
  EXPECT_EQ(run.exitStatus, kDamagedStatus);
  EXPECT_EQ(run.console, kBanner + kMissing + kPrompt);
  EXPECT_TRUE(fs::is_directory(Output()));
  EXPECT_EQ(OutputFiles(), Files{});
}

TEST_F(Extract, ZeroOrNegativeLanguageCountExtractsNothing) {
  for (int count : {0, -5}) {
    Bytes loc;
    locbuild::PutHeader(loc, 7, count, 0);
    loc += "trailing bytes are never read";
    PutLoc(loc);
    ProgramRun run = Run();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.console, kBanner + Header(7, count, 0) + kSeparator + Summary(0) + kPrompt);
    EXPECT_EQ(OutputFiles(), Files{});
  }
}

TEST_F(Extract, BlocksAreReadAsTheirOwnCountsSay) {
  // Header claims 9 strings; the blocks hold 3 in all. Counts of 0 and -4 give
  // empty files; a name may repeat (the later block wins) or be empty.
  Bytes loc;
  locbuild::PutHeader(loc, 1, 5, 2);
  locbuild::PutInt32(loc, 1);
  locbuild::PutInt32(loc, 2);
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
  // A negative length prefix is an empty string of two bytes.
  locbuild::PutLength(loc, 0xFFFF);
  PutLoc(loc);
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.console, kBanner + Header(1, 5, 2) + kSeparator + "Extracting a... Done!\n" +
                             "Extracting b... Done!\n" + "Extracting a... Done!\n" +
                             "Extracting ... Done!\n" + "Extracting c... Done!\n" + Summary(3) +
                             kPrompt);
  EXPECT_EQ(OutputFiles(),
            (Files{{"a.txt", "second a\r\n"}, {"b.txt", ""}, {".txt", ""}, {"c.txt", "\r\n"}}));
}

TEST_F(Extract, StringBytesAreKeptAndEveryLfBecomesCrLf) {
  const std::string strings[] = {std::string("nul\0byte", 8), "two\nlines", "cr\rstays", "",
                                 "caf\xC3\xA9 \xFF"};
  // A name byte of 0x80 or more is kept as it is on POSIX systems; Windows reads
  // it in the active code page, so there the file's name depends on the system.
#ifdef _WIN32
  const std::string name = "Francais";
#else
  const std::string name =
      "Fran\xE7"
      "ais";
#endif
  locbuild::LocFile loc;
  loc.keys = {1};
  loc.languages = {{name, {std::begin(strings), std::end(strings)}}};
  PutLoc(locbuild::BuildLoc(loc));
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  const std::string text =
      std::string("nul\0byte\r\n", 10) + "two\r\nlines\r\ncr\rstays\r\n\r\ncaf\xC3\xA9 \xFF\r\n";
  EXPECT_EQ(OutputFiles(), (Files{{name + ".txt", text}}));
}

TEST_F(Extract, SecondRunReplacesLanguageFilesAndLeavesOthersAlone) {
  PutOutputFile("en.txt", "an older and much longer text\r\n");
  PutOutputFile("notes.txt", "mine");
  PutLoc(WorkedExample());
  EXPECT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(OutputFiles(),
            (Files{{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}, {"notes.txt", "mine"}}));
}

TEST_F(Extract, ClosedStandardInputEndsTheWaitAtOnce) {
  PutLoc(WorkedExample());
  ProgramRun run = Run(nullptr);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(OutputFiles(), (Files{{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}}));
}

TEST_F(Extract, FileCutShortAnywhereIsReportedAndKeepsEarlierFiles) {
  const Bytes whole = WorkedExample();
  for (std::size_t size = 0; size < whole.size(); ++size) {
    SCOPED_TRACE("file cut to " + std::to_string(size) + " bytes");
    fs::remove_all(Output());
    PutOutputFile("en.txt", "old en\r\n");
    PutOutputFile("fr.txt", "old fr\r\n");
    PutLoc(whole.substr(0, size));
    ProgramRun run = Run();
    EXPECT_EQ(run.exitStatus, kDamagedStatus);
    EXPECT_NE(run.console.find("\"languages.loc\" is damaged: it ends at byte " +
                               std::to_string(size) + ", inside "),
              std::string::npos)
        << run.console;
    EXPECT_EQ(run.console.find("Extracted "), std::string::npos);
    // en's block is complete from byte 50 on; fr's never is.
    EXPECT_EQ(OutputFiles(),
              (Files{{"en.txt", size >= 50 ? "Hi\r\n" : "old en\r\n"}, {"fr.txt", "old fr\r\n"}}));
  }
}

TEST_F(Extract, CutInsideALanguageEndsItsLineFirst) {
  PutLoc(WorkedExample().substr(0, 63));
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, kDamagedStatus);
  EXPECT_EQ(run.console, kBanner + Header(2, 2, 1) + kSeparator + "Extracting en... Done!\n" +
                             "Extracting fr... Failed!\n" +
                             "\"languages.loc\" is damaged: it ends at byte 63, inside the "
                             "strings of language fr.\n" +
                             kPrompt);
}

TEST_F(Extract, HugeCountsInAShortFileEndAtTheData) {
  struct Case {
    const char* what;
    Bytes loc;
    const char* where;
  };
  Bytes manyLanguages, manyKeys, manyStrings;
  locbuild::PutHeader(manyLanguages, 1, 0x7FFFFFFF, 0);
  locbuild::PutCountedString(manyLanguages, "en");
  locbuild::PutInt32(manyLanguages, 0);
  locbuild::PutHeader(manyKeys, 1, 1, kMaxKeys);
  locbuild::PutInt32(manyKeys, 5);
  locbuild::PutHeader(manyStrings, 1, 1, 0);
  locbuild::PutCountedString(manyStrings, "en");
  locbuild::PutInt32(manyStrings, 0);
  locbuild::PutBlockHead(manyStrings, "en", 0x7FFFFFFF);
  locbuild::PutCountedString(manyStrings, "only one");
  locbuild::PutLength(manyStrings, 0x7FFF);
  manyStrings += "short";
  const Case cases[] = {
      {"language count", manyLanguages, "the language directory."},
      {"key count", manyKeys, "the key table."},
      {"block string count", manyStrings, "the strings of language en."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Output());
    PutLoc(c.loc);
    ProgramRun run = Run();
    EXPECT_EQ(run.exitStatus, kDamagedStatus);
    EXPECT_NE(run.console.find("is damaged: it ends at byte " + std::to_string(c.loc.size()) +
                               ", inside " + c.where),
              std::string::npos)
        << run.console;
    EXPECT_EQ(OutputFiles(), Files{});
  }
}

TEST_F(Extract, StringCountOutOfRangeIsReportedBeforeTheKeyTable) {
  for (std::int32_t count : {-1, kMaxKeys + 1}) {
    Bytes loc;
    locbuild::PutHeader(loc, 2, 1, count);
    PutLoc(loc);
    ProgramRun run = Run();
    EXPECT_EQ(run.exitStatus, kDamagedStatus);
    EXPECT_EQ(run.console, kBanner + Header(2, 1, count) +
                               "\"languages.loc\" is damaged: string count " +
                               std::to_string(count) + " is out of range.\n" + kPrompt);
  }
}

TEST_F(Extract, UnsafeNamesAreSkippedAndWriteNothingAnywhere) {
  const std::string hostile[] = {"../escape",
                                 "..\\escape",
                                 "C:escape",
                                 "/tmp/escape",
                                 "sub/dir",
                                 "CON",
                                 "nul.txt",
                                 "lpt1 ",
                                 "a*b",
                                 "bell\x07",
                                 std::string("nul\0byte", 8)};
  locbuild::LocFile loc;
  for (const std::string& name : hostile) loc.languages.push_back({name, {"x"}});
  loc.languages.push_back({"ok", {"fine"}});
  PutLoc(locbuild::BuildLoc(loc));
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.console.find("Extracting bell\\x07... Skipped: unsafe file name\n"),
            std::string::npos);
  EXPECT_NE(run.console.find("Extracting nul\\x00byte... Skipped: unsafe file name\n"),
            std::string::npos);
  EXPECT_NE(run.console.find("Extracting ../escape... Skipped: unsafe file name\n"),
            std::string::npos);
  EXPECT_NE(run.console.find("Extracting ok... Done!\n" + Summary(12) +
                             "11 languages could not be written.\n" + kPrompt),
            std::string::npos)
      << run.console;
  Files everything = Snapshot(work.path);
  everything.erase("languages.loc");
  EXPECT_EQ(everything, (Files{{"Output", "<folder>"}, {"Output/ok.txt", "fine\r\n"}}));
}

TEST_F(Extract, FileNamedOutputMakesEveryLanguageFail) {
  WriteBytes(Output(), "not a folder");
  PutLoc(WorkedExample());
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console.substr(0, kBanner.size()), kBanner);
  std::regex expected(kBanner + "Folder Output could not be made\n" +
                      R"(Reading process started\.\.\.
(.|\n)*Extracting en\.\.\. Failed: [^\n]+
Extracting fr\.\.\. Failed: [^\n]+
Extracted 2 strings in 0\.00s seconds
2 languages could not be written\.
)" + "\nPress enter to exit\\.\\.\\.");
  EXPECT_TRUE(std::regex_match(run.console, expected)) << run.console;
  EXPECT_EQ(ReadBytes(Output()), "not a folder");
}

TEST_F(Extract, SymbolicLinkAtATargetIsReplacedNotWrittenThrough) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need rights that a Windows test run does not have";
#else
  WriteBytes(work.path / "victim.txt", "keep me");
  fs::create_directories(Output());
  fs::create_symlink("../victim.txt", Output() / "en.txt");
  PutLoc(WorkedExample());
  EXPECT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadBytes(work.path / "victim.txt"), "keep me");
  EXPECT_FALSE(fs::is_symlink(Output() / "en.txt"));
  EXPECT_EQ(OutputFiles(), (Files{{"en.txt", "Hi\r\n"}, {"fr.txt", "Salut\r\n"}}));
#endif
}

TEST_F(Extract, FullDiskFailsTheLanguageAndKeepsItsEarlierFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a small file system to fill needs a Linux tmpfs mount";
#else
  // The LOC file stays outside the small file system; only "Output" is on it.
  fs::path disk = work.path / "disk";
  fs::create_directories(disk);
  std::string mount = "mount -t tmpfs -o size=256k tmpfs '" + disk.string() + "' 2>/dev/null";
  if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    std::string command;
    ~Unmount() { [[maybe_unused]] int ignored = std::system(command.c_str()); }
  } unmount{"umount '" + disk.string() + "'"};

  const std::string lines(32000, '\n');  // each doubles to 64000 bytes on disk
  locbuild::LocFile loc;
  loc.languages = {{"small", {"fits"}}, {"big", {lines, lines, lines, lines, lines}}};
  WriteBytes(side.path / "languages.loc", locbuild::BuildLoc(loc));
  fs::create_symlink(side.path / "languages.loc", disk / "languages.loc");
  fs::create_directories(disk / "Output");
  WriteBytes(disk / "Output" / "big.txt", "earlier big\r\n");

  ProgramRun run =
      RunProgram(gProgram, disk.string(), "", (side.path / "console.txt").string(), 30);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.console.find("Extracting small... Done!\nExtracting big... Failed: "),
            std::string::npos)
      << run.console;
  EXPECT_EQ(Snapshot(disk / "Output"),
            (Files{{"small.txt", "fits\r\n"}, {"big.txt", "earlier big\r\n"}}));
#endif
}

// Stops runs at random moments, and right when a new file appears in
// "Output": whatever ends the process, "Output" holds only language files,
// each with its earlier content or its complete new content.
TEST_F(Extract, StoppedAtAnyMomentLeavesOnlyWholeFiles) {
  auto name = [](int i) { return std::string{'L', char('a' + i)}; };
  locbuild::LocFile loc;
  std::map<std::string, std::string> fresh;
  for (int i = 0; i < 16; ++i) {
    locbuild::Language language{name(i), {}};
    for (int k = 0; k < 20000; ++k) {
      std::string text(40 + (k * 37 + i) % 120, char('a' + k % 26));
      if (k % 3 == 0) text += "\nline";
      language.strings.push_back(text);
    }
    fresh[language.name + ".txt"] = locbuild::ExpectedText(language.strings);
    loc.languages.push_back(std::move(language));
  }
  PutLoc(locbuild::BuildLoc(loc));
  const std::string earlier = "earlier\r\n";
  auto reset = [&] {
    fs::remove_all(Output());
    for (int i = 0; i < 16; i += 2) PutOutputFile(name(i) + ".txt", earlier);
  };
  reset();
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Run().exitStatus, 0);
  auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - started)
                   .count();

#ifdef _WIN32
  const std::vector<std::pair<std::string, std::vector<int>>> programs = {{gProgram, {0, 0, 0}}};
#else
  // The named temporary files cannot outlive SIGKILL; they are removed on the others.
  std::vector<std::pair<std::string, std::vector<int>>> programs = {
      {gProgram, {SIGINT, SIGTERM, SIGHUP, SIGKILL}}};
  if (!gNamedTempProgram.empty())
    programs.push_back({gNamedTempProgram, {SIGINT, SIGTERM, SIGHUP}});
#endif
  std::mt19937 random(7);
  for (const auto& [program, signals] : programs) {
    for (int signal : signals) {
      for (int moment = 0; moment < 4; ++moment) {
        Stop stop;
        stop.signal = signal;
        stop.afterMicroseconds = static_cast<long>(random() % static_cast<unsigned>(whole));
        if (moment == 3) {  // right when the first new file appears
          stop.watchFolder = Output().string();
          stop.afterMicroseconds = 10 * whole;
        }
        SCOPED_TRACE(program + ", signal " + std::to_string(signal) + ", stopped after " +
                     std::to_string(stop.afterMicroseconds) + " us" +
                     (moment == 3 ? " or at a new file" : ""));
        reset();
        ProgramRun run = RunProgram(program, work.path.string(), "",
                                    (side.path / "console.txt").string(), 30, &stop);
        EXPECT_FALSE(run.timedOut);
#ifdef _WIN32
        // Wine closes a killed program's files a moment after it reports it ended.
        auto stray = [&] {
          for (const auto& entry : OutputFiles()) {
            if (fresh.count(entry.first) == 0) return true;
          }
          return false;
        };
        for (int wait = 0; wait < 300 && stray(); ++wait) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
#endif
        for (const auto& [name, bytes] : OutputFiles()) {
          EXPECT_TRUE(fresh.count(name) != 0 && (bytes == fresh[name] || bytes == earlier))
              << name << " holds " << bytes.size() << " bytes";
        }
      }
    }
  }
}

// Damages valid files at random and runs the program on each, in a fresh
// folder: it must always end by itself, by exit, leave nothing outside
// "Output" and no temporary file, and close every language line it starts.
class RandomDamage : public Extract {
 protected:
  std::mt19937_64 random;
  std::size_t Below(std::size_t limit) { return limit == 0 ? 0 : random() % limit; }

  Bytes Damage(Bytes bytes) {
    static const std::int32_t kCounts[] = {
        0, -1, 1, 0x7FFFFFFF, INT32_MIN, 1'073'741'823, 1'073'741'824};
    static const std::uint16_t kPrefixes[] = {0x0000, 0x0001, 0x7FFF, 0x8000, 0xFFFF, 0x0100};
    for (std::size_t edits = 1 + Below(3); edits > 0; --edits) {
      std::size_t at = Below(bytes.size());
      switch (Below(6)) {
        case 0:
          if (!bytes.empty()) bytes[at] = static_cast<char>(bytes[at] ^ (1 << Below(8)));
          break;
        case 1:
          bytes.resize(Below(bytes.size() + 1));
          break;
        case 2: {
          Bytes count;
          locbuild::PutInt32(count, kCounts[Below(std::size(kCounts))]);
          bytes.replace(at, 4, count);
          break;
        }
        case 3: {
          Bytes prefix;
          locbuild::PutLength(prefix, kPrefixes[Below(std::size(kPrefixes))]);
          bytes.replace(at, 2, prefix);
          break;
        }
        case 4:
          bytes.insert(at, Bytes(1 + Below(8), static_cast<char>(Below(256))));
          break;
        default:
          bytes.erase(at, 1 + Below(8));
      }
    }
    return bytes;
  }

  // Every "Extracting" line ends in a verdict, or in " Failed!" followed by
  // the report of a damaged file.
  static std::string CheckConsole(const std::string& console) {
    std::istringstream lines(console);
    std::string line, previous;
    bool damagedReported = false;
    while (std::getline(lines, line)) {
      if (previous.ends_with(" Failed!") && line.find("is damaged") == std::string::npos) {
        return "no damage report after: " + previous;
      }
      damagedReported = damagedReported || line.find("is damaged") != std::string::npos;
      if (line.starts_with("Extracting ") && !line.ends_with(" Done!") &&
          !line.ends_with(" Failed!") && line.find("... Skipped: ") == std::string::npos &&
          line.find("... Failed: ") == std::string::npos) {
        return "language line without a verdict: " + line;
      }
      previous = line;
    }
    return damagedReported ? "damaged" : "";
  }
};

TEST_F(RandomDamage, NeverCrashesHangsOrLeavesStrayFiles) {
  unsigned long long seed = gDamageSeed != 0
                                ? gDamageSeed
                                : static_cast<unsigned long long>(
                                      std::chrono::system_clock::now().time_since_epoch().count());
  std::printf("random damage: %d runs, seed %llu (replay with --damage-seed %llu)\n", gDamageRuns,
              seed, seed);
  random.seed(seed);
  locbuild::LocFile varied;
  varied.keys = {1, 2, 3};
  varied.languages = {{"English", {"New Game", "two\nlines", "", "caf\xC3\xA9"}},
                      {"../escape", {"x"}},
                      {"en", {"cr\r", std::string(300, 'w')}},
                      {"en", {"again"}}};
  const Bytes originals[] = {WorkedExample(), locbuild::BuildLoc(varied)};
  for (int run = 0; run < gDamageRuns; ++run) {
    Bytes damaged = Damage(originals[Below(std::size(originals))]);
    fs::remove_all(work.path);
    fs::create_directories(work.path);
    PutLoc(damaged);
    ProgramRun result = Run();
    std::string verdict = CheckConsole(result.console);
    bool allowedStatus =
        result.exitStatus == 0 || result.exitStatus == 1 || result.exitStatus == kDamagedStatus;
    bool damagedStatus = result.exitStatus == kDamagedStatus;
    bool strayFile = false;
    for (const auto& [name, bytes] : Snapshot(work.path)) {
      bool expected = name == "languages.loc" || name == "Output" ||
                      (name.starts_with("Output/") && name.ends_with(".txt") &&
                       name.find('/', 7) == std::string::npos);
      strayFile = strayFile || !expected;
    }
    if (result.timedOut || result.killedBySignal || !allowedStatus || strayFile ||
        verdict.starts_with("no ") || verdict.starts_with("language line") ||
        damagedStatus != (verdict == "damaged")) {
      WriteBytes(fs::current_path() / "random-damage-failing.loc", damaged);
      FAIL() << "run " << run << " (seed " << seed << "): status " << result.exitStatus
             << (result.timedOut ? ", timed out" : "") << (strayFile ? ", stray file" : "") << ", "
             << verdict << "; input kept as random-damage-failing.loc\n"
             << result.console;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    std::string option = argv[i];
    if (option == "--program") gProgram = fs::absolute(argv[i + 1]).string();
    if (option == "--named-temp-program") gNamedTempProgram = fs::absolute(argv[i + 1]).string();
    if (option == "--damage-runs") gDamageRuns = std::atoi(argv[i + 1]);
    if (option == "--damage-seed") gDamageSeed = std::strtoull(argv[i + 1], nullptr, 10);
  }
  if (gProgram.empty()) {
    std::fprintf(stderr, "usage: e2e_test --program PATH_TO_PROGRAM\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
