// Times the program against `cat` copying the same file, the floor for a tool
// that reads a file once and writes it once. For each size: makes the file with
// generate_loc (kept for later runs), warms the page cache, then runs each
// command once to warm up and RUNS times measured, taking turns, with a fresh
// "Output" (or a fresh copy) before every run. Prints medians, min and max, the ratio, the
// program's throughput and its peak resident memory, and checks that the
// program wrote every byte it should.
//
// Usage: bench PROGRAM GENERATOR WORK_FOLDER RUNS MEBIBYTES...
#include <fcntl.h>
#include <sys/resource.h>
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
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs `argv` in `folder` with stdin from /dev/null and stdout to `stdoutPath`.
Timing Run(const std::vector<std::string>& argv, const fs::path& folder, const char* stdoutPath) {
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Timing timing;
  timing.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  timing.peakKiB = usage.ru_maxrss;
  timing.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return timing;
}

struct Summary {
  double median, min, max;
  long peakKiB;
};

Summary Summarise(std::vector<Timing> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Timing& a, const Timing& b) { return a.seconds < b.seconds; });
  long peak = 0;
  for (const Timing& run : runs) peak = std::max(peak, run.peakKiB);
  return {runs[runs.size() / 2].seconds, runs.front().seconds, runs.back().seconds, peak};
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

bool BenchOne(const std::string& program, const std::string& generator, const fs::path& work,
              int runs, int mebibytes) {
  fs::path folder = work / (std::to_string(mebibytes) + "MiB");
  fs::path loc = folder / "languages.loc";
  fs::path expectedPath = folder / "expected-bytes";
  fs::create_directories(folder);
  if (!fs::exists(expectedPath)) {
    std::string expected =
        Shell(generator + " " + std::to_string(mebibytes) + " 1 '" + loc.string() + "'");
    std::ofstream(expectedPath) << expected;
  }
  std::uint64_t expected =
      std::strtoull(Shell("cat '" + expectedPath.string() + "'").c_str(), nullptr, 10);
  Shell("cat '" + loc.string() + "' > /dev/null");  // page cache warm

  // The two commands take turns, each after the last one's output is gone and
  // written back, so that neither pays for the other's leftovers.
  fs::path copy = folder / "copy.loc";
  std::vector<Timing> cat, extract;
  bool complete = true;
  for (int i = 0; i <= runs; ++i) {
    fs::remove_all(folder / "Output");
    sync();
    Timing c = Run({"/bin/cat", "languages.loc"}, folder, copy.c_str());
    fs::remove(copy);
    sync();
    Timing p = Run({program}, folder, "/dev/null");
    complete = complete && p.ok && OutputBytes(folder / "Output") == expected;
    if (i == 0) continue;  // warm-up
    cat.push_back(c);
    extract.push_back(p);
  }
  fs::remove_all(folder / "Output");

  Summary p = Summarise(extract), c = Summarise(cat);
  double megabytes = static_cast<double>(fs::file_size(loc)) / 1e6;
  std::printf(
      "| %5d MiB | %.3f s (%.3f-%.3f) | %.3f s (%.3f-%.3f) | %.2f | %6.0f MB/s | %5.1f MiB | %s "
      "|\n",
      mebibytes, p.median, p.min, p.max, c.median, c.min, c.max, p.median / c.median,
      megabytes / p.median, static_cast<double>(p.peakKiB) / 1024.0,
      complete ? "complete" : "INCOMPLETE");
  std::fflush(stdout);
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
      "| file | program: median (min-max) | cat: median (min-max) | ratio | program MB/s | "
      "program peak RSS | output |\n|---|---|---|---|---|---|---|\n");
  bool all = true;
  for (int i = 5; i < argc; ++i)
    all = BenchOne(program, generator, work, runs, std::atoi(argv[i])) && all;
  return all ? 0 : 1;
}
