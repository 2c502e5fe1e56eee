// Files at head-unit paths: stream open, whole-file replace, append,
// attributes, directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "handles.h"
#include "paths.h"

namespace kz::platform {
namespace {

constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr long kNoFailure = -1;

// Test seam: bytes a write may still put out before it fails (-1: no failure).
std::atomic<long> writeFailureAfter{kNoFailure};

// Writes all bytes to fd, honouring the injected failure. True on success.
bool WriteAll(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    long failAfter = writeFailureAfter.load();
    size_t allowed = length;
    if (failAfter >= 0 && static_cast<size_t>(failAfter) < length) allowed = static_cast<size_t>(failAfter);
    size_t done = 0;
    while (done < allowed) {
        ssize_t n = write(fd, p + done, allowed - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    if (failAfter >= 0) {
        errno = EIO;
        return false;   // the injected failure: a device error in mid-write
    }
    return true;
}

std::string Dirname(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Basename(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Temporary file beside the target: same folder, so the rename is atomic.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    tempPath = Dirname(target) + "/." + Basename(target) + ".tmpXXXXXX";
    int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat old;
    fchmod(fd, stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : kNewFileMode);
    return fd;
}

// A temporary older than this is left over from a process killed during a
// write; a live one exists for milliseconds.
constexpr time_t kStaleTemporarySeconds = 60;
constexpr size_t kTemporaryRandomLength = 6;   // mkostemp's XXXXXX

// Removes the temporaries that killed writes of `target` left beside it.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string dir = Dirname(target);
    const std::string prefix = "." + Basename(target) + ".tmp";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    const time_t now = time(nullptr);
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + kTemporaryRandomLength ||
            name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            now - st.st_mtime > kStaleTemporarySeconds)
            unlink(path.c_str());
    }
    closedir(d);
}

int Fail(int err) {
    SetLastErrorFromErrno(err);
    return 0;
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzInjectWriteFailure(long failAfterBytes) {
    writeFailureAfter = failAfterBytes < 0 ? kNoFailure : failAfterBytes;
}

KZ_PLATFORM_API FILE* KzFopen(const char* unitPath, const char* mode) {
    if (!unitPath || !mode) return nullptr;
    FILE* f = fopen(MapUnitPath(unitPath).c_str(), mode);
    if (!f) SetLastErrorFromErrno(errno);
    return f;
}

KZ_PLATFORM_API int KzWriteFileAtomic(const char* unitPath, const void* data, size_t length) {
    if (!unitPath || (!data && length)) return Fail(EINVAL);
    const std::string target = MapUnitPath(unitPath);
    std::string temp;
    int fd = CreateTemporary(target, temp);
    if (fd < 0) return Fail(errno);
    bool ok = WriteAll(fd, data, length) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        return Fail(err);
    }
    SyncDirectory(Dirname(target));
    RemoveStaleTemporaries(target);
    return 1;
}

KZ_PLATFORM_API size_t KzAppendFile(const char* unitPath, const void* data, size_t length) {
    if (!unitPath || (!data && length)) return 0;
    int fd = open(MapUnitPath(unitPath).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  kNewFileMode);
    if (fd < 0) return Fail(errno);
    off_t before = lseek(fd, 0, SEEK_END);
    bool ok = WriteAll(fd, data, length);
    int err = errno;
    off_t after = lseek(fd, 0, SEEK_END);
    close(fd);
    if (!ok) SetLastErrorFromErrno(err);
    return before >= 0 && after >= before ? static_cast<size_t>(after - before) : 0;
}

KZ_PLATFORM_API uint32_t KzGetFileAttributes(const char* unitPath) {
    struct stat st;
    if (!unitPath || stat(MapUnitPath(unitPath).c_str(), &st) != 0) {
        SetLastErrorFromErrno(unitPath ? errno : EINVAL);
        return KZ_INVALID_FILE_ATTRIBUTES;
    }
    uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= KZ_FILE_ATTRIBUTE_DIRECTORY;
    if (!(st.st_mode & S_IWUSR)) attributes |= KZ_FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : KZ_FILE_ATTRIBUTE_NORMAL;
}

// Only the read-only attribute has a POSIX meaning: it clears the write bits.
KZ_PLATFORM_API int KzSetFileAttributes(const char* unitPath, uint32_t attributes) {
    struct stat st;
    if (!unitPath) return Fail(EINVAL);
    std::string host = MapUnitPath(unitPath);
    if (stat(host.c_str(), &st) != 0) return Fail(errno);
    mode_t mode = st.st_mode & 07777;
    if (attributes & KZ_FILE_ATTRIBUTE_READONLY)
        mode &= ~kWriteBits;
    else
        mode |= S_IWUSR;
    return chmod(host.c_str(), mode) == 0 ? 1 : Fail(errno);
}

KZ_PLATFORM_API int KzCreateDirectory(const char* unitPath) {
    if (!unitPath) return Fail(EINVAL);
    return mkdir(MapUnitPath(unitPath).c_str(), kDirectoryMode) == 0 ? 1 : Fail(errno);
}

KZ_PLATFORM_API int KzRemoveDirectory(const char* unitPath) {
    if (!unitPath || SplitUnitPath(unitPath).empty()) return Fail(EINVAL);   // never the root
    return rmdir(MapUnitPath(unitPath).c_str()) == 0 ? 1 : Fail(errno);
}

KZ_PLATFORM_API int KzDeleteFile(const char* unitPath) {
    if (!unitPath) return Fail(EINVAL);
    return unlink(MapUnitPath(unitPath).c_str()) == 0 ? 1 : Fail(errno);
}

}  // extern "C"
