#include "run/run.hpp"

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <string>

#include "textout/textout.hpp"

LocInput gLocInput;
LanguageList gLanguageList;

namespace {

constexpr char kSeparator[] = "========================\n";

// Every message is shown at once, so a line without a line break (such as
// "Extracting en...") is visible while the work it announces goes on. Most
// fit the buffer on the stack; a longer one (a long name) gets memory of its
// own, and without it is cut short rather than lost.
void Say(const RunTarget& target, const char* format, ...) {
  char small[1024];
  va_list arguments, again;
  va_start(arguments, format);
  va_copy(again, arguments);
  int size = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  const char* text = small;
  platform::Memory<char> large;
  if (size >= static_cast<int>(sizeof small)) {
    large = platform::Allocate<char>(static_cast<std::size_t>(size) + 1);
    if (large) {
      std::vsnprintf(large.get(), static_cast<std::size_t>(size) + 1, format, again);
      text = large.get();
    } else {
      size = sizeof small - 1;
    }
  }
  va_end(again);
  if (size > 0) platform::ShowText(target.console, std::string_view(text, size));
}

// The system's words for a failure, then `after`.
void SayReason(const RunTarget& target, const std::string& reason, const char* after) {
  platform::ShowReason(target.console, reason);
  Say(target, "%s", after);
}

void SayOutOfMemory(const RunTarget& target, const LocInput& input) {
  Say(target, "\"%s\" cannot be extracted: it does not fit in memory at byte %llu.\n", kLocFileName,
      static_cast<unsigned long long>(Offset(input)));
}

// True, after saying why, when reading failed (inside `where`).
bool ReportedFailure(const RunTarget& target, const LocInput& input, const std::string& where) {
  const ReadFailure& failure = input.failure;
  auto offset = static_cast<unsigned long long>(failure.offset);
  switch (failure.kind) {
    case FailureKind::None:
      return false;
    case FailureKind::Ended:
      Say(target, "\"%s\" is damaged: it ends at byte %llu, inside %s.\n", kLocFileName, offset,
          where.c_str());
      break;
    case FailureKind::Unreadable:
      Say(target,
          "\"%s\" is damaged or unreadable: reading failed at byte %llu, inside %s: ", kLocFileName,
          offset, where.c_str());
      SayReason(target, failure.reason, ".\n");
      break;
    case FailureKind::Damaged:
      Say(target, "\"%s\" is damaged: %s.\n", kLocFileName, failure.reason.c_str());
      break;
    case FailureKind::OutOfMemory:
      Say(target, "\"%s\" cannot be extracted: %s does not fit in memory at byte %llu.\n",
          kLocFileName, where.empty() ? "it" : where.c_str(), offset);
      break;
  }
  return true;
}

// The name as it can be shown on a console: control bytes appear as \xHH.
std::string DisplayName(std::string_view name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

// Reads one language block into its file. Returns false when reading failed
// inside the block; the language's line has then been ended and the failure
// reported.
bool ExtractLanguage(LocInput& input, std::string_view name, const RunTarget& target,
                     LanguageFile& file, StringRun& run, ExtractResult& result) {
  std::string shown = DisplayName(name);
  Say(target, "Extracting %s...", shown.c_str());
  result.lineOpen = true;
  OpenLanguageFile(file, target.folder, name);
  std::int32_t count = ReadBlockHead(input);
  std::string where =
      (Failed(input) ? "the head of the block of language " : "the strings of language ") + shown;
  for (std::int32_t left = count; left > 0;) {
    ReadStringRun(input, left, run);
    if (Failed(input)) break;
    WriteLines(file, run);
    left -= run.count;
    result.strings += run.count;
  }
  if (Failed(input)) {
    DropLanguageFile(file);
    result.lineOpen = false;
    Say(target, " Failed!\n");
    ReportedFailure(target, input, where);
    return false;
  }
  CloseLanguageFile(file);
  result.lineOpen = false;
  if (file.state == FileState::Done) {
    Say(target, " Done!\n");
    return true;
  }
  ++result.unwritten;
  if (file.state == FileState::Skipped) {
    Say(target, " Skipped: %s\n", file.error.c_str());
  } else {
    Say(target, " Failed: ");
    SayReason(target, file.error, "\n");
  }
  return true;
}

// Returns true when the whole file was walked; false when reading failed
// (already reported).
bool WalkLoc(LocInput& input, LanguageList& languages, const RunTarget& target,
             ExtractResult& result) {
  // The buffers are allocated before the directory takes what memory is left.
  LanguageFile file;
  StringRun run;
  if (ReportedFailure(target, input, "")) return false;  // no memory for the input's buffer
  if (!AllocateFileBuffer(file) || !AllocateStringRun(run)) {
    SayOutOfMemory(target, input);
    return false;
  }
  Say(target, "Reading process started...\n");
  LocHeader header = ReadHeader(input);
  if (ReportedFailure(target, input, "the header")) return false;
  Say(target, "LOC File Version: %d\n", static_cast<int>(header.version));
  Say(target, "Number of Languages: %d\n", static_cast<int>(header.languageCount));
  Say(target, "Number of Strings: %d\n", static_cast<int>(header.keyCount));
  SkipKeyTable(input, header.keyCount);
  if (ReportedFailure(target, input, "the key table")) return false;
  ReadLanguageDirectory(input, header.languageCount, languages);
  if (ReportedFailure(target, input, "the language directory")) return false;
  Say(target, kSeparator);
  LanguageCursor cursor;
  std::string_view name;
  while (NextLanguage(languages, cursor, name)) {
    if (!ExtractLanguage(input, name, target, file, run, result)) return false;
  }
  return true;
}

}  // namespace

ExtractResult ExtractLoc(LocInput& input, LanguageList& languages, const RunTarget& target) {
  ExtractResult result;
  // Buffers and the directory are allocated so that running out of memory is
  // a result; a string made on the way may still find none, and the library
  // says so by throwing. The language file it leaves goes with the unwinding.
  try {
    result.damaged = !WalkLoc(input, languages, target, result);
  } catch (const std::bad_alloc&) {
    if (result.lineOpen) Say(target, " Failed!\n");
    SayOutOfMemory(target, input);
    result.damaged = true;
  }
  return result;
}

namespace {

// Throwing takes memory too: this much is held from the start of the run and
// given back when an allocation fails, so that the failure can still be
// thrown, caught and reported.
constexpr std::size_t kMemoryReserve = 64 * 1024;
void* gMemoryReserve = nullptr;

void OnAllocationFailure() {
  std::free(gMemoryReserve);
  gMemoryReserve = nullptr;
  throw std::bad_alloc();
}

bool HoldMemoryReserve() {
  gMemoryReserve = platform::gCalloc(1, kMemoryReserve);
  if (gMemoryReserve != nullptr) std::set_new_handler(OnAllocationFailure);
  return gMemoryReserve != nullptr;
}

// Everything between the banner and the prompt; returns the exit status.
int ExtractAndSummarise(const RunTarget& target, std::int64_t start) {
  std::string why;
  if (MakeFolder(kOutputFolder, why)) {
    RemoveLeftOverFiles(kOutputFolder);
  } else {
    Say(target, "Folder %s could not be made: ", kOutputFolder);
    SayReason(target, why, "\n");
  }
  if (!IsInputOpen(gLocInput) && gLocInput.failure.kind == FailureKind::OutOfMemory) {
    ReportedFailure(target, gLocInput, "");
    return -1;
  }
  if (!IsInputOpen(gLocInput)) {
    Say(target,
        "\"%s\" could not be opened. Please make sure it isn't being used elsewhere on your "
        "computer and that it is in the same folder as this program. Reason: ",
        kLocFileName);
    SayReason(target, gLocInput.failure.reason, ".");
    return -1;
  }
  ExtractResult result = ExtractLoc(gLocInput, gLanguageList, target);
  CloseInput(gLocInput);
  if (result.damaged) return -1;
  double seconds = static_cast<double>(platform::Milliseconds() - start) / 1000.0;
  Say(target, "Extracted %" PRId64 " strings in %.2fs seconds\n", result.strings, seconds);
  if (result.unwritten > 0) Say(target, "%d languages could not be written.\n", result.unwritten);
  return result.unwritten > 0 ? 1 : 0;
}

}  // namespace

int RunExtraction() {
  std::int64_t start = platform::Milliseconds();
  RunTarget target{stdout, kOutputFolder};
  Say(target, "Vornhold String Extractor\n");
  Say(target, "Unpacks %s into one text file per language\n", kLocFileName);
  Say(target, kSeparator);
  int status = -1;
  if (!HoldMemoryReserve()) {
    SayOutOfMemory(target, gLocInput);
  } else {
    try {
      status = ExtractAndSummarise(target, start);
    } catch (const std::bad_alloc&) {  // outside the walk, which reports its own
      SayOutOfMemory(target, gLocInput);
    }
  }
  Say(target, "\nPress enter to exit...");
  std::getchar();
  return status;
}
