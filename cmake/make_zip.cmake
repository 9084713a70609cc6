# Makes OUT/NAME.zip, a folder NAME holding README.txt and the program EXE, and
# OUT/SHA256SUMS listing the zip and the program as built, UNSIGNED (check with
# `sha256sum -c`; EXE is the same with a signature, or without one the same
# file).
# The zip is the same bytes whoever makes it, wherever and whenever: its members
# come in a fixed order, carry the time SOURCE_DATE_EPOCH if that is set, else
# 1980-01-01 00:00 UTC (the earliest a zip can hold), and fixed permissions;
# there are no directory entries and none of zip's extra fields (-X), which
# would hold the builder's user and group ids.
# Usage: cmake -DZIP=<zip> -DNAME=<name> -DEXE=<program> -DUNSIGNED=<program>
#              -DREADME=<README.txt> -DOUT=<folder> -P make_zip.cmake
if(NOT ZIP)
  message(FATAL_ERROR "zip is missing: bash tools/install_deps.sh windows installs it")
endif()
set(epoch 315532800)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$" OR epoch LESS 315532800)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${epoch}', not a time since 1980 in seconds")
  endif()
endif()

cmake_path(GET EXE FILENAME program)
set(stage ${OUT}/zip-stage)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/${NAME})
file(COPY_FILE ${README} ${stage}/${NAME}/README.txt)
file(COPY_FILE ${EXE} ${stage}/${NAME}/${program})
set(members ${NAME}/README.txt ${NAME}/${program})
file(CHMOD ${stage}/${NAME}/README.txt PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(CHMOD ${stage}/${NAME}/${program} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                                  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
execute_process(COMMAND touch -d @${epoch} ${members} WORKING_DIRECTORY ${stage}
                COMMAND_ERROR_IS_FATAL ANY)

# A zip holds local times: make them in UTC. zip reads options from ZIPOPT and ZIP.
set(ENV{TZ} UTC0)
unset(ENV{ZIPOPT})
unset(ENV{ZIP})
file(REMOVE ${OUT}/${NAME}.zip)
execute_process(COMMAND ${ZIP} -q -X -D ${OUT}/${NAME}.zip ${members} WORKING_DIRECTORY ${stage}
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})

file(SHA256 ${OUT}/${NAME}.zip zip_sum)
file(SHA256 ${UNSIGNED} program_sum)
file(WRITE ${OUT}/SHA256SUMS "${zip_sum}  ${NAME}.zip\n${program_sum}  ${program}\n")
message(STATUS "Made ${OUT}/${NAME}.zip and SHA256SUMS")
