// The extraction run: banner, output folder, the walk over "languages.loc",
// every console message, the exit status and the final wait for Enter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "loc/reader.hpp"

inline constexpr char kLocFileName[] = "languages.loc";
inline constexpr char kOutputFolder[] = "Output";

// The input and the language list live for the whole process; `main` opens
// the input before the run begins.
extern LocInput gLocInput;
extern LanguageList gLanguageList;

// Where a walk over a LOC file sends its effects: console text to `console`
// (nowhere when null) and language files into `folder` (nowhere when null,
// the lines are then only counted).
struct RunTarget {
  std::FILE* console = nullptr;
  const char* folder = nullptr;
};

struct ExtractResult {
  bool damaged = false;           // or too large for memory: the walk stopped early
  bool lineOpen = false;          // a language's line is started and not yet ended
  std::int64_t strings = 0;       // strings read from the language blocks
  std::uint64_t stringBytes = 0;  // their bytes, before line ends are added
  int unwritten = 0;              // languages skipped or failed
  std::uint64_t consumed = 0;     // bytes of the input read
  std::size_t languages = 0;      // names in the directory
};

// Reads the header, key table, directory and every language block of `input`,
// from "Reading process started..." to the last language's line.
ExtractResult ExtractLoc(LocInput& input, LanguageList& languages, const RunTarget& target);

// Walks a LOC file held in memory exactly as a run walks "languages.loc",
// printing nothing and writing no file: for tests and fuzzing.
ExtractResult ExtractFromMemory(const void* data, std::size_t size);

// The program's entry routine; returns the exit status: 0 when every language
// was written, 1 when some could not be, -1 when the input is missing or damaged.
int RunExtraction();
