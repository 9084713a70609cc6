// Times the program against floors that read a file once and write it once:
// `cat`, `dd` with 256 KiB blocks (read and write through one buffer, the
// plainest copy a program can make), and the same `dd` flushing its data to the
// disk at the end (conv=fdatasync), as the program does with each file. For
// each file kind and size: makes the file with generate_loc (kept for later
// runs), warms the page cache, then runs each once to warm up and RUNS times
// measured, taking turns, each after the last one's output is gone and written
// back. Prints medians with min and max, the program's ratio to the floors, its
// throughput, user and system time and peak resident memory, and checks that
// it wrote every byte it should. Then the kind "many languages" (2,000 small
// files), where the cost of each file shows: the program against the same
// number of files written by this tool the plain way, the usual atomic way, and
// the durable atomic way (its data flushed before the rename), into an empty
// "Output" and over an earlier run.
//
// Usage: bench PROGRAM GENERATOR WORK_FOLDER RUNS MEBIBYTES...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Timing {
  double seconds = 0, user = 0, system = 0;
  long peakKiB = 0;
  bool ok = false;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs `body` in a child process and times it until it ends; the child ends
// with the status that `body` returns.
template <typename Body>
Timing TimeChild(const Body& body) {
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Timing timing;
  timing.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  timing.user = Seconds(usage.ru_utime);
  timing.system = Seconds(usage.ru_stime);
  timing.peakKiB = usage.ru_maxrss;
  timing.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return timing;
}

// Runs `argv` in `folder` with stdin from /dev/null and stdout to `stdoutPath`.
Timing Run(const std::vector<std::string>& argv, const fs::path& folder, const char* stdoutPath) {
  return TimeChild([&] {
    int in = open("/dev/null", O_RDONLY);
    int out = open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) return 127;
    dup2(in, 0);
    dup2(out, 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    return 127;
  });
}

// The floors for many small files: as many files as the program writes, of
// their average size, into "Output" in `folder`, the plain way (create or
// truncate, write, close; not safe), the usual atomic way (a new temporary
// file, write, close, rename over the target) or the durable one (its data
// flushed to the disk before the rename, so that a power cut cannot leave the
// target empty).
enum class Way { kPlain, kAtomic, kDurable };
Timing WriteFiles(const fs::path& folder, int files, std::size_t size, Way way) {
  return TimeChild([&] {
    const std::string bytes(size, 'x');
    if (chdir(folder.c_str()) != 0) return 1;
    mkdir("Output", 0777);
    for (int i = 0; i < files; ++i) {
      char name[64], temporary[64];
      std::snprintf(name, sizeof name, "Output/L%d.txt", 100000 + i);
      std::snprintf(temporary, sizeof temporary, "Output/L%d.tmp", 100000 + i);
      bool atomic = way != Way::kPlain;
      int file = atomic ? open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)
                        : open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (file < 0 || write(file, bytes.data(), size) != static_cast<ssize_t>(size)) return 1;
      if (way == Way::kDurable && fdatasync(file) != 0) return 1;
      if (close(file) != 0 || (atomic && rename(temporary, name) != 0)) return 1;
    }
    return 0;
  });
}

struct Summary {
  double median, min, max, user, system;
  long peakKiB;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Summary Summarise(const std::vector<Timing>& runs) {
  std::vector<double> wall, user, system;
  long peak = 0;
  for (const Timing& run : runs) {
    wall.push_back(run.seconds);
    user.push_back(run.user);
    system.push_back(run.system);
    peak = std::max(peak, run.peakKiB);
  }
  return {Median(wall),
          *std::min_element(wall.begin(), wall.end()),
          *std::max_element(wall.begin(), wall.end()),
          Median(user),
          Median(system),
          peak};
}

std::uint64_t OutputBytes(const fs::path& folder) {
  std::uint64_t bytes = 0;
  for (const auto& entry : fs::directory_iterator(folder)) bytes += entry.file_size();
  return bytes;
}

std::string Shell(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    pclose(pipe);
  }
  return text;
}

// Makes the file once; its expected output size is kept beside it.
fs::path Prepare(const std::string& generator, const fs::path& folder, const std::string& kind,
                 int mebibytes, std::uint64_t& expected) {
  fs::path loc = folder / "languages.loc";
  fs::path expectedPath = folder / "expected-bytes";
  fs::create_directories(folder);
  if (!fs::exists(expectedPath)) {
    std::string bytes =
        Shell(generator + " " + std::to_string(mebibytes) + " 1 '" + loc.string() + "' " + kind);
    std::ofstream(expectedPath) << bytes;
  }
  std::ifstream(expectedPath) >> expected;
  return loc;
}

bool BenchOne(const std::string& program, const std::string& generator, const fs::path& work,
              int runs, const std::string& kind, int mebibytes) {
  fs::path folder = work / (kind + "-" + std::to_string(mebibytes) + "MiB");
  std::uint64_t expected = 0;
  fs::path loc = Prepare(generator, folder, kind, mebibytes, expected);
  Shell("cat '" + loc.string() + "' > /dev/null");  // page cache warm

  fs::path copy = folder / "copy.loc";
  std::vector<Timing> cat, dd, flushed, extract;
  bool complete = true;
  const std::vector<std::string> ddCopy = {"/bin/dd", "if=languages.loc", "of=copy.loc", "bs=256K",
                                           "status=none"};
  std::vector<std::string> ddFlushed = ddCopy;
  ddFlushed.push_back("conv=fdatasync");
  for (int i = 0; i <= runs; ++i) {
    sync();
    Timing c = Run({"/bin/cat", "languages.loc"}, folder, copy.c_str());
    fs::remove(copy);
    sync();
    Timing d = Run(ddCopy, folder, "/dev/null");
    fs::remove(copy);
    sync();
    Timing f = Run(ddFlushed, folder, "/dev/null");
    fs::remove(copy);
    sync();
    Timing p = Run({program}, folder, "/dev/null");
    complete =
        complete && c.ok && d.ok && f.ok && p.ok && OutputBytes(folder / "Output") == expected;
    fs::remove_all(folder / "Output");
    if (i == 0) continue;  // warm-up
    cat.push_back(c);
    dd.push_back(d);
    flushed.push_back(f);
    extract.push_back(p);
  }

  Summary p = Summarise(extract), c = Summarise(cat), d = Summarise(dd), f = Summarise(flushed);
  double megabytes = static_cast<double>(fs::file_size(loc)) / 1e6;
  std::printf(
      "| %-8s | %4d MiB | %.3f s (%.3f-%.3f) | %.3f s | %.3f s | %.3f s | %.2f | %.2f | %.2f | "
      "%5.0f MB/s | %.3f s / %.3f s | %4.1f MiB | %s |\n",
      kind.c_str(), mebibytes, p.median, p.min, p.max, c.median, d.median, f.median,
      p.median / c.median, p.median / d.median, p.median / f.median, megabytes / p.median, p.user,
      p.system, static_cast<double>(p.peakKiB) / 1024.0, complete ? "complete" : "INCOMPLETE");
  std::fflush(stdout);
  return complete;
}

// Many small files: the program against the two floors, each into an empty
// "Output" and then over the files it has just written, taking turns.
bool BenchMany(const std::string& program, const std::string& generator, const fs::path& work,
               int runs) {
  constexpr int kFiles = 2000;  // as generate_loc makes them
  fs::path folder = work / "many-languages-2000";
  std::uint64_t expected = 0;
  Prepare(generator, folder, "many", 0, expected);
  const std::size_t size = static_cast<std::size_t>(expected / kFiles);
  const char* const names[] = {"the plain way (not safe)", "the usual atomic way (not durable)",
                               "the durable atomic way", "vornhold-extract"};
  constexpr int kContenders = 4, kProgram = 3, kDurable = 2;
  std::vector<Timing> times[kContenders][2];  // contender, then new or replace
  bool complete = true;
  for (int i = 0; i <= runs; ++i) {
    for (int contender = 0; contender < kContenders; ++contender) {
      fs::remove_all(folder / "Output");
      for (auto& into : times[contender]) {
        sync();
        Timing t = contender == kProgram
                       ? Run({program}, folder, "/dev/null")
                       : WriteFiles(folder, kFiles, size, static_cast<Way>(contender));
        complete = complete && t.ok;
        if (i > 0) into.push_back(t);  // the first round warms up
      }
      if (contender == kProgram) {
        complete = complete && OutputBytes(folder / "Output") == expected;
      }
    }
  }
  fs::remove_all(folder / "Output");
  std::printf(
      "\n| %d languages, %zu bytes a file | into an empty Output | over an earlier run |\n"
      "|---|---|---|\n",
      kFiles, size);
  double durable[2] = {Summarise(times[kDurable][0]).median, Summarise(times[kDurable][1]).median};
  for (int contender = 0; contender < kContenders; ++contender) {
    std::printf("| %s |", names[contender]);
    for (int into = 0; into < 2; ++into) {
      Summary s = Summarise(times[contender][into]);
      std::printf(" %.0f us a file (%.3f-%.3f s), %.2fx durable |", s.median * 1e6 / kFiles, s.min,
                  s.max, s.median / durable[into]);
    }
    std::printf("\n");
  }
  std::printf("output: %s\n", complete ? "complete" : "INCOMPLETE");
  return complete;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: bench PROGRAM GENERATOR WORK_FOLDER RUNS MEBIBYTES...\n");
    return 2;
  }
  std::string program = fs::absolute(argv[1]).string();
  std::string generator = fs::absolute(argv[2]).string();
  fs::path work = fs::absolute(argv[3]);
  int runs = std::max(1, std::atoi(argv[4]));
  std::printf(
      "| kind | file | program: median (min-max) | cat | dd 256K | dd, flushed | ÷ cat | ÷ dd | "
      "÷ dd, flushed | program MB/s | program user / system | program peak RSS | output |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  bool all = true;
  for (const char* kind : {"text", "dialogue"}) {
    for (int i = 5; i < argc; ++i) {
      all = BenchOne(program, generator, work, runs, kind, std::atoi(argv[i])) && all;
    }
  }
  all = BenchMany(program, generator, work, runs) && all;
  return all ? 0 : 1;
}
