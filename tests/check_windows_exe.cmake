# Checks that the Windows program is a 32-bit console program (that uses the
# whole 4 GiB on 64-bit Windows and starts on Windows 7 and later) that needs no DLL
# but Windows' own and carries version details and a manifest that never asks
# for elevation and lists the Windows versions it is made for (7 to 11).
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
file(READ ${EXE} bytes HEX)
# The version resource's key, in UTF-16 as resources hold it.
string(HEX "VS_VERSION_INFO" key)
string(REGEX REPLACE "(..)" "\\100" key "${key}")
require("${bytes}" "${key}" "has no version resource")
# Never elevated; made for Windows 7, and for Windows 10 and 11.
foreach(entry "level=\"asInvoker\"" "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"
              "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>")
  string(HEX "${entry}" hex)
  require("${bytes}" "${hex}" "'s manifest lacks ${entry}")
endforeach()
