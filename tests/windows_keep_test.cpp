// Every branch of putting a language file in place on Windows, through calls
// that fail the way some file systems and Windows versions make them fail
// (wine takes the rename by handle, refuses FileRenameInfoEx, and never
// refuses a delete mark).
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>

#include "platform/platform.hpp"
#include "platform/windows_calls.hpp"
#include "support/files.hpp"

namespace {

constexpr DWORD kPass = 0;                 // the real call
constexpr DWORD kRenameByHandle = 0xFFFF;  // FileRenameInfoEx done as FileRenameInfo, and taken
constexpr int kAlways = -1;

struct Faults {
  DWORD mark = kPass;     // setting a delete mark
  bool markKept = false;  // clearing it is taken and ignored, and it says so
  DWORD renameEx = ERROR_INVALID_PARAMETER;
  DWORD rename = kPass;
  int renameRefusals = kAlways;  // how many times `rename` fails
  DWORD move = kPass, flush = kPass;
  bool nameBeingDeleted = false;  // the first create finds a file being deleted
  bool folderDenied = false;      // every create is refused
} gFaults;
DWORD gSlept = 0;
HANDLE gBeingDeleted = INVALID_HANDLE_VALUE;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI SetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data, DWORD size) {
  bool marking =
      kind == FileDispositionInfo && static_cast<FILE_DISPOSITION_INFO*>(data)->DeleteFile;
  if (marking && gFaults.mark != kPass) return Fail(gFaults.mark);
  if (kind == FileDispositionInfo && !marking && gFaults.markKept) return TRUE;
  if (kind == platform::kFileRenameInfoEx && gFaults.renameEx != kRenameByHandle) {
    return Fail(gFaults.renameEx);
  }
  if (kind == platform::kFileRenameInfoEx) kind = FileRenameInfo;
  if (kind == FileRenameInfo && gFaults.rename != kPass && gFaults.renameRefusals-- != 0) {
    return Fail(gFaults.rename);
  }
  return SetFileInformationByHandle(file, kind, data, size);
}

BOOL WINAPI GetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data, DWORD size) {
  BOOL got = GetFileInformationByHandleEx(file, kind, data, size);
  if (kind == FileStandardInfo && gFaults.markKept) {
    static_cast<FILE_STANDARD_INFO*>(data)->DeletePending = TRUE;
  }
  return got;
}

BOOL WINAPI Move(LPCWSTR from, LPCWSTR to, DWORD flags) {
  return gFaults.move == kPass ? MoveFileExW(from, to, flags) : Fail(gFaults.move);
}

BOOL WINAPI Flush(HANDLE file) {
  return gFaults.flush == kPass ? FlushFileBuffers(file) : Fail(gFaults.flush);
}

// Windows refuses a new file under the name of one being deleted with
// ERROR_ACCESS_DENIED (wine says it exists), as it refuses one in a folder
// that may not be written. The file being deleted stays until the case ends,
// as if a scanner held it.
HANDLE WINAPI Create(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD how, DWORD flags, HANDLE model) {
  if (gFaults.nameBeingDeleted) {
    gFaults.nameBeingDeleted = false;
    gBeingDeleted = CreateFileW(path, DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  } else if (!gFaults.folderDenied) {
    return CreateFileW(path, access, share, security, how, flags, model);
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

void WINAPI Pause(DWORD milliseconds) {
  gSlept += milliseconds;
}

struct Case {
  const char* what;
  Faults faults;
  bool kept;
  DWORD slept = 0;          // milliseconds
  std::string reason = "";  // the system's words, as Windows or wine says them
  bool readOnlyTarget = false;
  DWORD waitedBefore = 0;  // of the run's waiting, by earlier languages
  bool marksTried = true;  // the run's first file has shown whether marks clear
};

// clang-format off
const Case kCases[] = {
    {"FileRenameInfoEx refused (before Windows 10): a rename by handle", {}, true},
    {"FileRenameInfoEx where the system has it", {.renameEx = kRenameByHandle}, true},
    {"a rename by handle refused: MoveFileEx", {.rename = ERROR_NOT_SUPPORTED}, true},
    {"MoveFileEx failing too", {.rename = ERROR_INVALID_PARAMETER, .move = ERROR_WRITE_PROTECT},
     false, 0, "write protected"},
    {"a target held for a moment is waited for",
     {.rename = ERROR_SHARING_VIOLATION, .renameRefusals = 3}, true, 10 + 20 + 40},
    {"a target held all along fails after 2 s", {.rename = ERROR_ACCESS_DENIED}, false, 2000, "denied"},
    {"a read-only target is not waited for", {.rename = ERROR_ACCESS_DENIED}, false, 0, "denied", true},
    {"a run waits 10 s at most", {.rename = ERROR_ACCESS_DENIED}, false, 10, "denied", false, 9'990},
    {"a flush that fails", {.flush = ERROR_DISK_FULL}, false, 0, "space|full"},
    {"a refused mark: the file goes unmarked", {.mark = ERROR_INVALID_PARAMETER}, true},
    {"a refused mark, and the language fails: the file goes by name",
     {.mark = ERROR_INVALID_FUNCTION, .flush = ERROR_DISK_FULL}, false, 0, "space|full"},
    {"a mark that the first file cannot clear: the files go unmarked", {.markKept = true}, true, 0, "",
     false, 0, false},
    {"a mark that a later file cannot clear fails its language", {.markKept = true}, false, 0,
     "deleted|303"},
    {"a temporary name being deleted: the next one", {.nameBeingDeleted = true}, true},
    {"a folder that refuses writing", {.folderDenied = true}, false, 0, "denied"},
};
// clang-format on

TEST(WindowsKeep, EveryBranchKeepsTheFileWholeOrLeavesTheEarlierOne) {
  platform::gWindowsCalls = {Create, SetInformation, GetInformation, Move, Flush, Pause};
  TempFolder folder("keep");
  const std::string target = (folder.path / "en.txt").string();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    gFaults = c.faults;
    gSlept = 0;
    platform::gWindowsRun = {.marksTried = c.marksTried, .waited = c.waitedBefore};
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    Make(folder.path, {{"en.txt", "earlier"}});
    if (c.readOnlyTarget) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    platform::TemporaryFile temp;
    std::string error;
    bool kept = platform::CreateTemporaryFile(folder.path.string().c_str(), temp, error) &&
                platform::WriteSome(temp.file, "new", 3, error) == 3 &&
                platform::CloseTemporaryFile(temp, target.c_str(), error);
    platform::DropTemporaryFile(temp);
    CloseHandle(gBeingDeleted);
    gBeingDeleted = INVALID_HANDLE_VALUE;
    EXPECT_EQ(kept, c.kept) << error;
    EXPECT_EQ(gSlept, c.slept);
    EXPECT_TRUE(std::regex_search(error, std::regex(c.reason, std::regex::icase))) << error;
    EXPECT_EQ(Snapshot(folder.path),
              (std::map<std::string, std::string>{{"en.txt", c.kept ? "new" : "earlier"}}));
  }
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  platform::gWindowsCalls = {};
  platform::gWindowsRun = {};
}

}  // namespace
