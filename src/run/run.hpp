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
// and language files into `folder`.
struct RunTarget {
  std::FILE* console = nullptr;
  const char* folder = nullptr;
};

struct ExtractResult {
  bool damaged = false;      // or unreadable, or too large for memory: the walk stopped early
  bool lineOpen = false;     // a language's line is started and not yet ended
  std::int64_t strings = 0;  // strings read from the language blocks
  int unwritten = 0;         // languages skipped or failed
};

// Reads the header, key table, directory and every language block of `input`,
// from "Reading process started..." to the last language's line.
ExtractResult ExtractLoc(LocInput& input, LanguageList& languages, const RunTarget& target);

// The program's entry routine; returns the exit status: 0 when every language
// was written, 1 when some could not be, -1 when the input is missing or damaged.
int RunExtraction();
