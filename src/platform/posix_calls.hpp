// The POSIX call that puts a language file's data on the disk, behind a
// pointer: a disk that fails it (an I/O error, a USB stick pulled out) is not
// at hand, so a test points it at one that fails, as with the Windows calls.
#pragma once

#include <unistd.h>

namespace platform {

struct PosixCalls {
  int (*flushData)(int) = ::fdatasync;
};
extern PosixCalls gPosixCalls;

}  // namespace platform
