// The few things vesk needs from the operating system. One source file per
// platform implements them (os_posix.cpp; the build picks the file), so the
// rest of the tool has no platform conditionals.
#ifndef VESK_TOOL_OS_H
#define VESK_TOOL_OS_H

#include <string>

namespace vesk::tool::os {

// File name every reader library carries on this platform.
extern const char *const kReaderFileName;

// Folder holding the running executable, or "" when it cannot be told.
std::string executable_dir();

bool is_regular_file(const std::string &path);

// Loads the reader library at `path` so that Vesk_RD's own load by bare
// name finds this object (by its SONAME on Linux, its base name on
// Windows). On failure fills `error` with the loader's reason.
bool preload_reader(const std::string &path, std::string *error);

// Record texts are GBK; the terminal wants UTF-8. Bytes that do not convert
// come out as \xNN escapes.
std::string gbk_to_utf8(const std::string &gbk);

bool stderr_is_terminal();

}  // namespace vesk::tool::os

#endif
