// The Windows calls by which a language file is made and put in place, behind
// pointers. Some file systems refuse calls that every disk at hand accepts (a
// delete mark on a network share, a rename by handle on a third-party file
// system), and wine answers some unlike Windows: a test points these at calls
// that fail the way those do, to walk every branch, as SQLite's tests swap its
// system calls.
#pragma once

#include <windows.h>

namespace platform {

struct WindowsCalls {
  decltype(&::CreateFileW) createFile = ::CreateFileW;
  decltype(&::SetFileInformationByHandle) setFileInformation = ::SetFileInformationByHandle;
  decltype(&::GetFileInformationByHandleEx) getFileInformation = ::GetFileInformationByHandleEx;
  decltype(&::MoveFileExW) moveFile = ::MoveFileExW;
  decltype(&::FlushFileBuffers) flushFile = ::FlushFileBuffers;
  decltype(&::Sleep) sleep = ::Sleep;
};
extern WindowsCalls gWindowsCalls;

// What a run has learnt about its folder and how long it has waited for it.
struct WindowsRun {
  // Delete marks are used until the file system refuses one or does not clear
  // it; the run's temporary files are then plain files, removed by name when
  // their language fails and by the next run's sweep otherwise. Whether it
  // clears them is tried on the run's first file.
  bool marksWork = true;
  bool marksTried = false;
  DWORD waited = 0;  // milliseconds spent waiting for files that others held
};
extern WindowsRun gWindowsRun;

// FileRenameInfoEx (Windows 10 1607 on), which Debian 12's mingw-w64 does not
// declare, and the flags of its FILE_RENAME_INFO.
inline constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
inline constexpr DWORD kRenameReplaceIfExists = 0x1;
inline constexpr DWORD kRenamePosixSemantics = 0x2;

}  // namespace platform
