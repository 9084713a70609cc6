# Checks that the Windows program is a 32-bit console program (that uses the
# whole 4 GiB on 64-bit Windows and starts on Windows 7 and later) that needs no DLL
# but Windows' own, imports none of the calls that virus scanners hold against
# a program (a thread library's, which a text tool does not use), and carries
# version details and a manifest that never asks for elevation and lists the
# Windows versions it is made for (7 to 11). It reads the .exe without running
# it, so that it also runs where 32-bit programs cannot.
function(require text needle what)
  string(FIND "${text}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE} ${what}")
  endif()
endfunction()

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
foreach(expected "file format pei-i386" "(PE32)" "(Windows CUI)" "large address aware"
                 "MajorSubsystemVersion\t6" "MinorSubsystemVersion\t1")
  require("${headers}" "${expected}" "lacks '${expected}'")
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" import)
  if(NOT import MATCHES "dll name: (kernel32|msvcrt|user32|advapi32)\\.dll")
    message(FATAL_ERROR "${EXE} needs a DLL that Windows does not have: ${import}")
  endif()
endforeach()
foreach(call SetSystemTime GetThreadContext SetThreadContext SuspendThread ResumeThread OpenProcess
             SetProcessAffinityMask AddVectoredExceptionHandler IsDebuggerPresent DuplicateHandle)
  if(headers MATCHES "[ \t]${call}\n")
    message(FATAL_ERROR "${EXE} imports ${call}")
  endif()
endforeach()
file(READ ${EXE} bytes HEX)
# The version resource's key, in UTF-16 as resources hold it.
foreach(key VS_VERSION_INFO CompanyName ProductName FileDescription OriginalFilename LegalCopyright)
  string(HEX "${key}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  require("${bytes}" "${hex}" "has no ${key} in its version resource")
endforeach()
# Never elevated; made for Windows 7, and for Windows 10 and 11.
foreach(entry "level=\"asInvoker\"" "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"
              "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>")
  string(HEX "${entry}" hex)
  require("${bytes}" "${hex}" "'s manifest lacks ${entry}")
endforeach()
