#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

// The NT call that gives an open file one more name, replacing whatever stands
// under that name in one step; Windows' own API has no such call.
struct IoStatus {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};
struct LinkInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};
constexpr int kFileLinkInformation = 11;
using SetInformationFile = LONG(NTAPI*)(HANDLE, IoStatus*, void*, ULONG, int);

// Links `target` to the open file, replacing a file or link standing there.
bool LinkOpenFile(HANDLE handle, const char* target) {
  auto setInformation = reinterpret_cast<SetInformationFile>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
  int units = MultiByteToWideChar(CP_ACP, 0, target, -1, nullptr, 0);
  if (setInformation == nullptr || units <= 0) return false;
  std::vector<wchar_t> name(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, target, -1, name.data(), units);
  DWORD fullUnits = GetFullPathNameW(name.data(), 0, nullptr, nullptr);
  if (fullUnits == 0) return false;
  std::vector<wchar_t> full(fullUnits);
  GetFullPathNameW(name.data(), fullUnits, full.data(), nullptr);
  std::wstring path = full.data();
  path = path.starts_with(L"\\\\") ? L"\\??\\UNC\\" + path.substr(2) : L"\\??\\" + path;
  std::vector<char> buffer(sizeof(LinkInformation) + sizeof(wchar_t) * path.size());
  auto* link = reinterpret_cast<LinkInformation*>(buffer.data());
  link->replaceIfExists = TRUE;
  link->rootDirectory = nullptr;
  link->fileNameLength = static_cast<ULONG>(sizeof(wchar_t) * path.size());
  std::memcpy(link->fileName, path.data(), sizeof(wchar_t) * path.size());
  IoStatus status{};
  return setInformation(handle, &status, link, static_cast<ULONG>(buffer.size()),
                        kFileLinkInformation) == 0;
}

bool MarkForDeletion(HANDLE handle, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// For file systems without links (FAT): copies the file into a new one beside
// it, marked for deletion until the copy is complete, and moves that in place.
// Between clearing the mark and the move, a stop leaves the copy behind.
bool CopyIntoPlace(HANDLE handle, const std::string& folder, const char* target,
                   std::string& error) {
  std::string path = NewTemporaryName(folder);
  HANDLE copy = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool copied = copy != INVALID_HANDLE_VALUE && MarkForDeletion(copy, true) &&
                SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == 0;
  std::vector<char> block(256 * 1024);
  DWORD got = 0, put = 0;
  while (copied &&
         ReadFile(handle, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) &&
         got > 0) {
    copied = WriteFile(copy, block.data(), got, &put, nullptr) && put == got;
  }
  copied = copied && got == 0 && MarkForDeletion(copy, false);
  if (copy != INVALID_HANDLE_VALUE) copied = CloseHandle(copy) && copied;
  copied = copied && MoveFileExA(path.c_str(), target, MOVEFILE_REPLACE_EXISTING);
  if (!copied) {
    error = WindowsErrorText(GetLastError());
    DeleteFileA(path.c_str());
  }
  return copied;
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
    // Deleted when the last handle to it closes, which the system does however
    // the process ends; a complete file is kept by linking its final name to it.
    HANDLE handle =
        CreateFileA(temp.path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      error = WindowsErrorText(GetLastError());
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

bool KeepTemporaryFile(TemporaryFile& temp, const char* target, std::string& error) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(temp.file));
  bool kept = LinkOpenFile(handle, target) || CopyIntoPlace(handle, temp.folder, target, error);
  DropTemporaryFile(temp);  // removes the temporary name
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
