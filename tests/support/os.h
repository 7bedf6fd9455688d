// What the test harness needs from the operating system; one file per
// platform (os_posix.cpp, os_win32.cpp) implements it.
#ifndef VESK_TESTS_OS_H
#define VESK_TESTS_OS_H

#include <string>

namespace vt::os {

// File name of every reader library on this platform.
extern const char *const kReaderFileName;

// Folder holding one subfolder per recorder variant.
std::string recorder_dir();

// Loads a library by full path; throws with the system's reason.
void *load_library(const std::string &path);
void *find_symbol(void *library, const char *name);
void unload_library(void *library);

}  // namespace vt::os

#endif
