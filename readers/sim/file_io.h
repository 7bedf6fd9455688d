// The platform seam of the card file: locking, whole-file reads and durable
// replacement. card_file_posix.cpp implements it; a Windows twin implements
// the same four functions (LockFileEx, FlushFileBuffers, MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
#ifndef RFSIM_FILE_IO_H
#define RFSIM_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace rfsim::io {

// An advisory lock held on a lock file for the object's lifetime; it also
// goes away when the process dies, so a killed writer never blocks others.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    // Creates the lock file if needed and waits for the lock.
    bool acquire(const std::string &lock_path, bool exclusive, std::string *error);

  private:
    std::intptr_t handle_ = -1;
};

enum class ReadResult { Ok, Missing, Failed };

// *size gets the file's size; its bytes land in buf only when they fit in
// capacity, so an oversized file is told apart without being read.
ReadResult read_file(const std::string &path, std::uint8_t *buf, std::size_t capacity, std::size_t *size,
                     std::string *error);

// Creates or truncates temp (with the permissions of `like` when that
// exists), writes data and flushes it to the disk.
bool write_temp(const std::string &temp, const std::string &like, const std::uint8_t *data, std::size_t size,
                std::string *error);
// Renames temp over path in one step and flushes the folder entry.
bool commit_temp(const std::string &temp, const std::string &path, std::string *error);

}  // namespace rfsim::io

#endif
