// POSIX side of the card file seam: flock, fsync, rename.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace rfsim::io {

namespace {

std::string why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string folder_of(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool write_all(int fd, const std::uint8_t *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FileLock::~FileLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing drops the flock
}

bool FileLock::acquire(const std::string &lock_path, bool exclusive, std::string *error) {
    const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = why("cannot open the lock file", lock_path);
        return false;
    }
    while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno == EINTR) continue;
        *error = why("cannot lock", lock_path);
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

ReadResult read_file(const std::string &path, std::uint8_t *buf, std::size_t capacity, std::size_t *size,
                     std::string *error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        *error = why("cannot open", path);
        return ReadResult::Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = why("cannot stat", path);
        ::close(fd);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
        ::close(fd);
        return ReadResult::Failed;
    }
    *size = static_cast<std::size_t>(st.st_size);
    std::size_t done = 0;
    while (*size <= capacity && done < *size) {
        const ssize_t n = ::read(fd, buf + done, *size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = why("cannot read", path);
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;  // shrank under us; the caller sees a short size
        done += static_cast<std::size_t>(n);
    }
    if (*size <= capacity) *size = done;
    ::close(fd);
    return ReadResult::Ok;
}

bool write_temp(const std::string &temp, const std::string &like, const std::uint8_t *data, std::size_t size,
                std::string *error) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = why("cannot create", temp);
        return false;
    }
    struct stat st;
    if (::stat(like.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
    if (!write_all(fd, data, size)) {
        *error = why("cannot write", temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    if (::fsync(fd) != 0) {
        *error = why("cannot flush", temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    ::close(fd);
    return true;
}

bool commit_temp(const std::string &temp, const std::string &path, std::string *error) {
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        *error = why("cannot rename " + temp + " to", path);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself lives in the folder; without this a power cut could
    // bring the old file back after the write was reported done.
    const std::string folder = folder_of(path);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        *error = why("cannot open the folder", folder);
        return false;
    }
    const bool synced = ::fsync(dir) == 0;
    if (!synced) *error = why("cannot flush the folder", folder);
    ::close(dir);
    return synced;
}

}  // namespace rfsim::io
