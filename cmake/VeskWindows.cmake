# Windows builds (MinGW-w64, run under Wine when cross-compiling).

# Every program the build or the tests run goes through cmake/wine-run, with
# a Wine prefix of this build folder's own.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine[0-9]*$")
  set(VESK_WINE ${CMAKE_CROSSCOMPILING_EMULATOR})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run ${CMAKE_BINARY_DIR}/wineprefix ${VESK_WINE})
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VESK_WIN_ARCH x86)
else()
  set(VESK_WIN_ARCH x64)
endif()

find_program(VESK_OBJDUMP NAMES ${VESK_MINGW_TRIPLE}-objdump objdump REQUIRED)

# vesk_windows_exports(<target> <def file>): the DLL exports exactly the
# names of the .def, undecorated, and its import library lets C and C++
# callers link with the header's declarations. On x86 the stdcall symbols
# carry @<bytes>; a .def with those suffixes is derived from the compiled
# objects at link time, so the plain .def stays the one list.
function(vesk_windows_exports target def)
  if(VESK_WIN_ARCH STREQUAL "x64")
    target_sources(${target} PRIVATE ${def})
    return()
  endif()
  get_filename_component(name ${def} NAME_WE)
  set(decorated ${CMAKE_CURRENT_BINARY_DIR}/${name}.x86.def)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDEF=${def} -DOUT=${decorated}
            -DOBJECT_DIR=${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir
            -P ${PROJECT_SOURCE_DIR}/cmake/stdcall_def.cmake
    VERBATIM)
  target_link_options(${target} PRIVATE ${decorated} -Wl,--kill-at)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
  # ld's own import library would name the bare symbols; callers compiled
  # against the header reference _Name@N.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -k -d ${decorated} -D $<TARGET_FILE_NAME:${target}> -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()

# vesk_windows_reader(<target>): a reader library as every host finds it,
# RfReader.dll, exporting its rf_ entry points (WINAPI on x86) undecorated.
function(vesk_windows_reader target)
  # Nothing links to a reader library: its import library is put aside,
  # where the many builds named RfReader do not collide.
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME RfReader
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/implib/${target})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
endfunction()

# vesk_check_pe(<test name> <target> DEF <def file> | NAMES <name>...
#               [EXTRA <regex>]): the DLL exports exactly these names
# (undecorated) plus any matching EXTRA, and imports only system DLLs.
function(vesk_check_pe test target)
  cmake_parse_arguments(arg "" "DEF;EXTRA" "NAMES" ${ARGN})
  string(REPLACE ";" "," names "${arg_NAMES}")
  add_test(NAME ${test}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VESK_OBJDUMP} -DLIB=$<TARGET_FILE:${target}> "-DDEF=${arg_DEF}"
            "-DNAMES=${names}" "-DEXTRA=${arg_EXTRA}" -P ${PROJECT_SOURCE_DIR}/cmake/check_pe.cmake)
endfunction()

if(VESK_BUILD_TESTS AND NOT TARGET GTest::gtest)
  # GoogleTest from the sources Debian ships, built for this target.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
