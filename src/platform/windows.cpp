#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/file_names.hpp"
#include "platform/platform.hpp"
#include "platform/temporary_names.hpp"
#include "platform/windows_calls.hpp"

namespace platform {

WindowsCalls gWindowsCalls;
WindowsRun gWindowsRun;

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

// The system's words for an error, on one line, in UTF-8: in the display
// language, which may hold characters that the code page has not.
std::string WindowsErrorText(DWORD code) {
  wchar_t text[512] = {};
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, code, 0, text, static_cast<DWORD>(std::size(text)), nullptr);
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] == L'\r' || text[i] == L'\n') text[i] = L' ';
  }
  while (length > 0 && (text[length - 1] == L'.' || text[length - 1] == L' ')) --length;
  int size =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (length == 0 || size <= 0) return "Windows error " + std::to_string(code);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr,
                      nullptr);
  return utf8;
}

std::string NewTemporaryName(const std::string& folder) {
  return TemporaryName(folder, '\\', ::_getpid());
}

// Text in the active code page as UTF-16; empty when it is not valid there
// and `strict` asks for that.
std::wstring Widen(std::string_view text, bool strict = false) {
  DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  int size = static_cast<int>(text.size());
  int units = MultiByteToWideChar(CP_ACP, flags, text.data(), size, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, flags, text.data(), size, wide.data(), units);
  return wide;
}

// A path as the wide calls take it: absolute, and marked with \\?\ so that
// the 260-character limit of the plain calls does not apply (a deep current
// folder makes the paths of the temporary files long). Empty when the path
// cannot be had.
std::wstring FullPath(const char* path) {
  std::wstring wide = Widen(path);
  DWORD units = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (units == 0) return {};
  std::wstring full(units, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), units, full.data(), nullptr));
  if (full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE HandleOf(int file) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(file));
}

// A handle as a C runtime descriptor, or -1 (the handle then closed).
int DescriptorOf(HANDLE handle, std::string& error) {
  int file = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (file < 0) {
    error = ErrorText(errno);
    CloseHandle(handle);
  }
  return file;
}

// The system deletes a file so marked when its last handle closes, however
// the process ends; unlike FILE_FLAG_DELETE_ON_CLOSE, the mark can be cleared.
bool MarkForDeletion(HANDLE handle, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return gWindowsCalls.setFileInformation(handle, FileDispositionInfo, &disposition,
                                          sizeof disposition) != 0;
}

// Some file systems take the clearing of the mark and delete the file all the
// same (a third-party driver, dokany#349): the mark counts as cleared only
// when the system says so.
bool ClearMark(HANDLE handle) {
  FILE_STANDARD_INFO standard{};
  if (!MarkForDeletion(handle, false)) return false;
  if (gWindowsCalls.getFileInformation(handle, FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending) {
    SetLastError(ERROR_DELETE_PENDING);
    return false;
  }
  return true;
}

// What gives an open file the name `target`, replacing a file standing there
// in one step. `flags` go where FileRenameInfo takes ReplaceIfExists (the same
// byte for kRenameReplaceIfExists).
std::vector<char> RenameInformation(const std::wstring& target, DWORD flags) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * target.size());
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  std::memcpy(buffer.data(), &flags, sizeof flags);
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(sizeof(wchar_t) * target.size());
  std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
  return buffer;
}

bool Refused(DWORD failure) {
  return failure == ERROR_INVALID_PARAMETER || failure == ERROR_NOT_SUPPORTED;
}

// The ways of renaming an open file over another, in the order they are
// tried: with POSIX semantics where the system has them, which replace a file
// that others hold open with delete sharing; by handle as before where a
// system refuses them; by name (MoveFileEx) where a file system refuses a
// rename by handle. Made before the delete mark is cleared, as they allocate.
struct Renames {
  std::wstring from, to;
  std::vector<char> posix, plain;
};

Renames RenamesOver(const std::wstring& from, const std::wstring& to) {
  return {from, to, RenameInformation(to, kRenameReplaceIfExists | kRenamePosixSemantics),
          RenameInformation(to, kRenameReplaceIfExists)};
}

// Returns 0 or the system's error.
DWORD RenameOver(HANDLE handle, Renames& renames) {
  const std::pair<FILE_INFO_BY_HANDLE_CLASS, std::vector<char>*> ways[] = {
      {kFileRenameInfoEx, &renames.posix}, {FileRenameInfo, &renames.plain}};
  DWORD failure = 0;
  for (const auto& [kind, rename] : ways) {
    if (gWindowsCalls.setFileInformation(handle, kind, rename->data(),
                                         static_cast<DWORD>(rename->size()))) {
      return 0;
    }
    failure = GetLastError();
    if (!Refused(failure)) return failure;
  }
  if (gWindowsCalls.moveFile(renames.from.c_str(), renames.to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 0;
  }
  return GetLastError();
}

// Another program may hold the target open for a moment: a virus scanner, the
// search indexer or a sync client reading a file just written. A rename
// refused so is tried again after a growing pause, up to about 2 s for a
// language and 10 s for a run; one that cannot pass (a read-only file or a
// folder standing there) is not.
constexpr DWORD kLanguageWait = 2'000, kRunWait = 10'000;  // milliseconds

bool MayPassLater(DWORD failure, const std::wstring& to) {
  if (failure != ERROR_ACCESS_DENIED && failure != ERROR_SHARING_VIOLATION) return false;
  DWORD attributes = GetFileAttributesW(to.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ||
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

DWORD RenameWaiting(HANDLE handle, Renames& renames) {
  DWORD waited = 0;
  for (DWORD pause = 10;; pause *= 2) {
    DWORD failure = RenameOver(handle, renames);
    DWORD left = std::min(kLanguageWait - waited, kRunWait - gWindowsRun.waited);
    if (failure == 0 || left == 0 || !MayPassLater(failure, renames.to)) return failure;
    pause = std::min(pause, left);
    gWindowsCalls.sleep(pause);
    waited += pause;
    gWindowsRun.waited += pause;
  }
}

// Whether something stands under `path`: a file being deleted answers a
// create with ERROR_ACCESS_DENIED, as does a folder that may not be written.
bool NameTaken(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD failure = GetLastError();
  return failure != ERROR_FILE_NOT_FOUND && failure != ERROR_PATH_NOT_FOUND;
}

// Asking the system whether a handle is a console takes a call to it: asked
// once a stream, since a run prints a few lines for every language.
bool IsConsole(std::FILE* stream, HANDLE handle) {
  static std::FILE* asked = nullptr;
  static bool console = false;
  DWORD mode = 0;
  if (stream != asked) console = GetConsoleMode(handle, &mode) != 0;
  asked = stream;
  return console;
}

// Text in `codePage` as UTF-16 in memory of its own (no exception: this also
// reports that memory ran out); null when it cannot be had.
Memory<wchar_t> Wide(UINT codePage, std::string_view text, int& units) {
  int size = static_cast<int>(text.size());
  units = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  Memory<wchar_t> wide = Allocate<wchar_t>(static_cast<std::size_t>(units) + 1);
  if (units <= 0 || !wide) return nullptr;
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.get(), units);
  return wide;
}

// Shows text as the characters it stands for where `stream` is a console;
// false where it is none, or nothing could be shown. Before Windows 8 a
// console write of more than about 64 KB fails, so the text goes in pieces
// well under that, never splitting a surrogate pair, each written whole.
bool ShowOnConsole(std::FILE* stream, UINT codePage, std::string_view text) {
  constexpr DWORD kPiece = 8192;  // UTF-16 units
  HANDLE handle = HandleOf(::_fileno(stream));
  int units = 0;
  Memory<wchar_t> wide;
  if (!IsConsole(stream, handle) || !(wide = Wide(codePage, text, units))) return false;
  const wchar_t* left = wide.get();
  for (DWORD count = static_cast<DWORD>(units); count > 0;) {
    DWORD piece = std::min(count, kPiece), shown = 0;
    if (piece < count && IS_HIGH_SURROGATE(left[piece - 1])) --piece;
    if (!WriteConsoleW(handle, left, piece, &shown, nullptr) || shown == 0) {
      return left != wide.get();  // what was shown stays shown
    }
    left += shown;
    count -= shown;
  }
  return true;
}

void WriteBytes(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void ShowText(std::FILE* console, std::string_view text) {
  std::fflush(console);
  if (!ShowOnConsole(console, CP_ACP, text)) WriteBytes(console, text);
}

// Elsewhere than on a console, in the code page, as the rest of the output.
void ShowReason(std::FILE* console, std::string_view reason) {
  std::fflush(console);
  if (ShowOnConsole(console, CP_UTF8, reason)) return;
  int units = 0;
  Memory<wchar_t> wide = Wide(CP_UTF8, reason, units);
  int size =
      wide ? WideCharToMultiByte(CP_ACP, 0, wide.get(), units, nullptr, 0, nullptr, nullptr) : 0;
  Memory<char> bytes = Allocate<char>(static_cast<std::size_t>(size) + 1);
  if (size <= 0 || !bytes) {
    WriteBytes(console, reason);
    return;
  }
  WideCharToMultiByte(CP_ACP, 0, wide.get(), units, bytes.get(), size, nullptr, nullptr);
  WriteBytes(console, std::string_view(bytes.get(), static_cast<std::size_t>(size)));
}

// Not the C runtime's clock: it may follow the system clock where the
// runtime has no steady one of its own.
std::int64_t Milliseconds() {
  return static_cast<std::int64_t>(GetTickCount64());
}

int OpenForReading(const char* path, std::string& error) {
  // Shared with every other program; a folder cannot be opened this way.
  HANDLE handle = CreateFileW(FullPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = WindowsErrorText(GetLastError());
    return -1;
  }
  return DescriptorOf(handle, error);
}

// Reads and writes go to the system directly, so that a failure gives the
// system's own reason (a full disk says so).
long ReadSome(int file, void* buffer, std::size_t size, std::string& error) {
  DWORD got = 0;
  if (ReadFile(HandleOf(file), buffer, static_cast<DWORD>(size), &got, nullptr)) return got;
  error = WindowsErrorText(GetLastError());
  return -1;
}

long WriteSome(int file, const void* data, std::size_t size, std::string& error) {
  DWORD put = 0;
  if (WriteFile(HandleOf(file), data, static_cast<DWORD>(size), &put, nullptr)) return put;
  error = WindowsErrorText(GetLastError());
  return -1;
}

void StartWriteBack(int /*file*/) {}

bool CloseFile(int file, std::string& error) {
  if (::_close(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

// The rule applies to the characters that the name stands for in the active
// code page, and the file is made under exactly those (the wide calls), so a
// name that is not valid text there is refused rather than changed.
NameCheck CheckFileName(std::string_view name) {
  std::wstring wide = Widen(name, true);
  if (wide.empty() && !name.empty()) return NameCheck::NotInCodePage;
  if (!IsPlainName(std::wstring_view(wide))) return NameCheck::Unsafe;
  if (IsShortName(std::wstring_view(wide))) return NameCheck::ShortName;
  return FitsFileName(wide.size()) ? NameCheck::Plain : NameCheck::TooLong;
}

void PrepareProcess() {}

// A temporary file that a live run writes is open there, so it cannot be
// opened with no sharing; one that can is left over (a power cut, or a stop
// between clearing its delete mark and putting it in place) and goes when
// that handle closes.
void RemoveLeftOverTemporaryFiles(const char* folder) {
  std::wstring where = FullPath(folder) + L"\\";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((where + L"vornhold-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!IsTemporaryName(std::wstring_view(found.cFileName))) continue;
    HANDLE file = CreateFileW((where + found.cFileName).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool CreateTemporaryFile(const char* folder, TemporaryFile& temp, std::string& error) {
  temp.folder = folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp.path = NewTemporaryName(temp.folder);
    std::wstring path = FullPath(temp.path.c_str());
    HANDLE handle = gWindowsCalls.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD failure = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (failure == ERROR_FILE_EXISTS || (failure == ERROR_ACCESS_DENIED && NameTaken(path))) {
      continue;
    }
    if (failure != 0) {
      error = WindowsErrorText(failure);
      return false;
    }
    bool marked = gWindowsRun.marksWork && MarkForDeletion(handle, true);
    // A file system that does not clear a mark shows it on the run's first
    // file, which then goes, so that no language fails for it.
    if (marked && !gWindowsRun.marksTried) {
      gWindowsRun.marksTried = true;
      if (!ClearMark(handle)) {
        gWindowsRun.marksWork = false;
        CloseHandle(handle);
        DeleteFileW(path.c_str());
        continue;
      }
      marked = MarkForDeletion(handle, true);
    }
    gWindowsRun.marksWork = temp.deletedAtClose = marked;
    temp.file = DescriptorOf(handle, error);
    return temp.file >= 0;
  }
  error = WindowsErrorText(ERROR_FILE_EXISTS);
  return false;
}

// The data reaches the disk before the file takes its name. The deletion mark
// is cleared just before the rename and set again if the rename fails; a stop
// in between leaves the file for the next run to remove. Everything that
// allocates comes before the mark is cleared.
bool CloseTemporaryFile(TemporaryFile& temp, const char* target, std::string& error) {
  HANDLE handle = HandleOf(temp.file);
  Renames renames = RenamesOver(FullPath(temp.path.c_str()), FullPath(target));
  DWORD failure = ERROR_INVALID_NAME;
  if (!renames.from.empty() && !renames.to.empty()) {
    failure = 0;
    if (!gWindowsCalls.flushFile(handle)) {
      failure = GetLastError();
    } else if (temp.deletedAtClose && !ClearMark(handle)) {
      failure = GetLastError();
      gWindowsRun.marksWork = false;
    } else {
      temp.deletedAtClose = false;
      failure = RenameWaiting(handle, renames);
      if (failure != 0) temp.deletedAtClose = MarkForDeletion(handle, true);
    }
  }
  if (failure == 0) temp.path.clear();  // the name is the target's now
  DropTemporaryFile(temp);
  if (failure != 0) error = WindowsErrorText(failure);
  return failure == 0;
}

// Writes went to the system directly and are in the file already: closing has
// nothing left to report. A file that is not marked goes by its name (shared
// for deletion, so it goes as this handle closes). This also runs while an
// allocation failure unwinds: without memory for the name, the file stays for
// the next run's sweep, as after a kill.
void DropTemporaryFile(TemporaryFile& temp) {
  if (temp.file < 0) return;
  try {
    if (!temp.deletedAtClose && !temp.path.empty()) {
      DeleteFileW(FullPath(temp.path.c_str()).c_str());
    }
  } catch (const std::bad_alloc&) {
  }
  ::_close(temp.file);
  temp.file = -1;
  temp.path.clear();
  temp.deletedAtClose = false;
}

bool MakeDirectory(const char* name, std::string& error) {
  std::wstring path = FullPath(name);
  if (!path.empty() && CreateDirectoryW(path.c_str(), nullptr)) return true;
  DWORD failure = path.empty() ? ERROR_INVALID_NAME : GetLastError();
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  error = WindowsErrorText(failure);
  return false;
}

}  // namespace platform
