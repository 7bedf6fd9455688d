# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build/tests/vesk_tests[1]_include.cmake")
include("/work/main/build/tests/vesk_alloc_test[1]_include.cmake")
include("/work/main/build/tests/vesk_load_once_test[1]_include.cmake")
add_test([=[Library.ExportsExactlyTheTwelveNames]=] "/usr/bin/cmake" "-DLIB=/work/main/build/lib/libVesk_RD.so" "-DDEF=/work/main/src/Vesk_RD.def" "-P" "/work/main/tests/check_exports.cmake")
set_tests_properties([=[Library.ExportsExactlyTheTwelveNames]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;52;add_test;/work/main/tests/CMakeLists.txt;0;")
