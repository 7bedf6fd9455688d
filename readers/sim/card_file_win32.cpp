// Windows side of the card file seam: LockFileEx, FlushFileBuffers,
// MoveFileExA. Paths are in the process's ANSI code page, as getenv gives
// them.
#include <windows.h>

#include "file_io.h"

namespace rfsim::io {

namespace {

std::string why(const std::string &what, const std::string &path) {
    return what + " " + path + ": Windows error " + std::to_string(GetLastError());
}

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

FileLock::~FileLock() {
    if (handle_ != -1) CloseHandle(as_handle(handle_));  // closing drops the lock
}

bool FileLock::acquire(const std::string &lock_path, bool exclusive, std::string *error) {
    HANDLE h = CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = why("cannot open the lock file", lock_path);
        return false;
    }
    OVERLAPPED at = {};
    if (!LockFileEx(h, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &at)) {
        *error = why("cannot lock", lock_path);
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

ReadResult read_file(const std::string &path, std::uint8_t *buf, std::size_t capacity, std::size_t *size,
                     std::string *error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = path + " is not a regular file";
        return ReadResult::Failed;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND) return ReadResult::Missing;
        *error = why("cannot open", path);
        return ReadResult::Failed;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(h, &length)) {
        *error = why("cannot stat", path);
        CloseHandle(h);
        return ReadResult::Failed;
    }
    *size = static_cast<std::size_t>(length.QuadPart);
    std::size_t done = 0;
    while (*size <= capacity && done < *size) {
        DWORD n = 0;
        if (!ReadFile(h, buf + done, static_cast<DWORD>(*size - done), &n, nullptr)) {
            *error = why("cannot read", path);
            CloseHandle(h);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        done += n;
    }
    if (*size <= capacity) *size = done;
    CloseHandle(h);
    return ReadResult::Ok;
}

bool write_temp(const std::string &temp, const std::string &, const std::uint8_t *data, std::size_t size,
                std::string *error) {
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = why("cannot create", temp);
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                    FlushFileBuffers(h);
    if (!ok) *error = why("cannot write", temp);
    CloseHandle(h);
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

bool commit_temp(const std::string &temp, const std::string &path, std::string *error) {
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = why("cannot rename " + temp + " to", path);
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace rfsim::io
