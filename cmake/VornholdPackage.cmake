# The release zip of the Windows program: `cmake --build --preset windows-i686
# --target package` makes vornhold-extract-<version>-win32.zip, holding the
# program and README.txt in a folder of the same name, and SHA256SUMS, both in
# the build folder. The zip is made by cmake/make_zip.cmake rather than CPack,
# whose ZIP generator stores the members in the order the file system lists them
# and with the builder's user and group ids, so that two builders of the same
# commit would not get the same bytes.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VORNHOLD_PACKAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
else()
  set(VORNHOLD_PACKAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
endif()
configure_file(${PROJECT_SOURCE_DIR}/dist/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
find_program(VORNHOLD_ZIP zip)

# The .exe in the zip is signed where the maintainer's key is given
# (tools/sign_exe.sh); the one in the build folder stays unsigned.
set(signed ${CMAKE_CURRENT_BINARY_DIR}/release/vornhold-extract.exe)
add_custom_target(package
  COMMAND bash ${PROJECT_SOURCE_DIR}/tools/sign_exe.sh $<TARGET_FILE:vornhold-extract> ${signed}
  COMMAND ${CMAKE_COMMAND} -DZIP=${VORNHOLD_ZIP} -DNAME=${VORNHOLD_PACKAGE_NAME}
          -DEXE=${signed} -DUNSIGNED=$<TARGET_FILE:vornhold-extract>
          -DREADME=${CMAKE_CURRENT_BINARY_DIR}/README.txt
          -DOUT=${CMAKE_CURRENT_BINARY_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/make_zip.cmake
  BYPRODUCTS ${CMAKE_CURRENT_BINARY_DIR}/${VORNHOLD_PACKAGE_NAME}.zip
             ${CMAKE_CURRENT_BINARY_DIR}/SHA256SUMS
  VERBATIM)
add_dependencies(package vornhold-extract)
