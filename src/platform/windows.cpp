#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_names.hpp"
#include "platform/platform.hpp"
#include "platform/temporary_names.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

std::string WindowsErrorText(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == '.' || text[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) return "Windows error " + std::to_string(code);
  return std::string(text, length);
}

std::string NewTemporaryName(const std::string& folder) {
  return TemporaryName(folder, '\\', ::_getpid());
}

// A narrow name in the active code page as a full wide path, empty when it
// cannot be converted.
std::wstring FullWidePath(const char* name) {
  int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 0) return {};
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), units);
  DWORD fullUnits = GetFullPathNameW(wide.data(), 0, nullptr, nullptr);
  if (fullUnits == 0) return {};
  std::vector<wchar_t> full(fullUnits);
  GetFullPathNameW(wide.data(), fullUnits, full.data(), nullptr);
  return full.data();
}

// The system deletes a file so marked when its last handle closes, however
// the process ends; unlike FILE_FLAG_DELETE_ON_CLOSE, the mark can be cleared.
bool MarkForDeletion(HANDLE handle, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// What gives an open file the name `target`, replacing a file standing there
// in one step (a folder or a read-only file there refuses it).
std::vector<char> RenameInformation(const std::wstring& target) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * target.size());
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(sizeof(wchar_t) * target.size());
  std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
  return buffer;
}

}  // namespace

int OpenForReading(const char* path, std::string& error) {
  // _open shares the file with every other program (no deny mode).
  int file = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (file < 0) error = ErrorText(errno);
  return file;
}

long ReadSome(int file, void* buffer, std::size_t size, std::string& error) {
  int got = ::_read(file, buffer, static_cast<unsigned>(size));
  if (got < 0) error = ErrorText(errno);
  return got;
}

long WriteSome(int file, const void* data, std::size_t size, std::string& error) {
  int put = ::_write(file, data, static_cast<unsigned>(size));
  if (put < 0) error = ErrorText(errno);
  return put;
}

bool CloseFile(int file, std::string& error) {
  if (::_close(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

// The rule applies to the characters that the name stands for in the active
// code page, and the file is made under exactly those (the wide calls), so a
// name that is not valid text there is refused rather than changed.
NameCheck CheckFileName(std::string_view name) {
  if (name.empty()) return NameCheck::Plain;
  int size = static_cast<int>(name.size());
  int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
  if (units <= 0) return NameCheck::NotInCodePage;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, wide.data(), units);
  return IsPlainName(std::wstring_view(wide)) ? NameCheck::Plain : NameCheck::Unsafe;
}

void PrepareProcess() {}

// The system removes a run's temporary files however it ends.
bool StartCleanUp(std::string& /*error*/) {
  return true;
}

// A temporary file that a live run writes is open there, so it cannot be
// opened with no sharing; one that can is left over (a power cut, or a stop
// between clearing its delete mark and putting it in place) and goes when
// that handle closes.
void RemoveStaleTemporaryFiles(const char* folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(folder) + "\\vornhold-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (TemporaryNameOwner(found.cFileName) == 0) continue;
    std::string path = std::string(folder) + "\\" + found.cFileName;
    HANDLE file = CreateFileA(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

bool CreateTemporaryFile(const char* folder, TemporaryFile& temp, std::string& error) {
  temp.folder = folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp.path = NewTemporaryName(temp.folder);
    HANDLE handle = CreateFileA(temp.path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (handle == INVALID_HANDLE_VALUE || !MarkForDeletion(handle, true)) {
      error = WindowsErrorText(GetLastError());
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      DeleteFileA(temp.path.c_str());  // stopped between the two, the next run removes it
      return false;
    }
    temp.file = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (temp.file < 0) {
      error = ErrorText(errno);
      CloseHandle(handle);
      return false;
    }
    return true;
  }
  error = WindowsErrorText(ERROR_FILE_EXISTS);
  return false;
}

// The deletion mark is cleared just before the rename and set again if the
// rename fails; a stop in between leaves the file for the next run to remove.
// Where a file system refuses a rename by handle, MoveFileEx does it by name.
// Everything that allocates comes before the mark is cleared.
bool KeepTemporaryFile(TemporaryFile& temp, const char* target, std::string& error) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(temp.file));
  std::wstring from = FullWidePath(temp.path.c_str()), to = FullWidePath(target);
  std::vector<char> rename = RenameInformation(to);
  DWORD failure = ERROR_INVALID_NAME;
  bool kept = false;
  if (!from.empty() && !to.empty() && MarkForDeletion(handle, false)) {
    kept = SetFileInformationByHandle(handle, FileRenameInfo, rename.data(),
                                      static_cast<DWORD>(rename.size())) != 0;
    failure = kept ? 0 : GetLastError();
    if (failure == ERROR_INVALID_PARAMETER || failure == ERROR_NOT_SUPPORTED) {
      kept = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    }
    if (!kept) MarkForDeletion(handle, true);
  } else if (!from.empty() && !to.empty()) {
    failure = GetLastError();
  }
  DropTemporaryFile(temp);
  if (!kept) error = WindowsErrorText(failure);
  return kept;
}

void DropTemporaryFile(TemporaryFile& temp) {
  if (temp.file >= 0) ::_close(temp.file);
  temp.file = -1;
}

bool MakeDirectory(const char* name) {
  // Folder names are in the active code page; the wide call takes them as UTF-16.
  int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), units);
  if (CreateDirectoryW(wide.data(), nullptr)) return true;
  DWORD attributes = GetFileAttributesW(wide.data());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace platform
