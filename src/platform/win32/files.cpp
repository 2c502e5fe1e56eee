// Win32 back end: the head unit's paths on a drive, and the file calls.
//
// "\BACKUP\KZ_Config\x.ini" (also without the leading "\", "/" separating
// too) is the same path below the root folder: KzSetRootDir, else
// $KZ_TARN_ROOT, else the working folder. The file system ignores case by
// itself, so the head unit's two spellings of a folder meet without help.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kz_platform.h"
#include "wide.h"

static_assert(KZ_FILE_ATTRIBUTE_DIRECTORY == FILE_ATTRIBUTE_DIRECTORY);
static_assert(KZ_INVALID_FILE_ATTRIBUTES == INVALID_FILE_ATTRIBUTES);

namespace kz::platform {
namespace {

constexpr const char kRootVariable[] = "KZ_TARN_ROOT";
constexpr const char kExeDirVariable[] = "KZ_TARN_EXE_DIR";

struct Root {
    std::mutex mutex;
    std::string dir;       // empty: not chosen yet
    std::string reported;  // what KzGetRootDir last handed out
};

Root& RootState() {
    static auto* root = new Root;   // leaked: used by threads at exit
    return *root;
}

std::atomic<long> g_failAfterBytes{-1};
std::atomic<unsigned> g_tempCounter{0};

std::string CurrentRoot() {
    auto& r = RootState();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.dir.empty()) return r.dir;
    if (const char* env = getenv(kRootVariable); env && *env) return env;
    wchar_t cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
    return n > 0 && n < MAX_PATH ? Narrow(cwd) : std::string(".");
}

// Components of a head-unit path; empty ones, "." and ".." are dropped, so
// nothing climbs above the root.
std::vector<std::string> Components(const char* unitPath) {
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = unitPath;; ++p) {
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (!part.empty() && part != "." && part != "..") parts.push_back(part);
            part.clear();
            if (*p == '\0') break;
        } else {
            part += *p;
        }
    }
    return parts;
}

std::string MapToHost(const char* unitPath) {
    std::string host = CurrentRoot();
    while (!host.empty() && (host.back() == '\\' || host.back() == '/')) host.pop_back();
    for (const auto& part : Components(unitPath)) host += "\\" + part;
    return host;
}

std::wstring HostPath(const char* unitPath) { return Widen(MapToHost(unitPath).c_str()); }

// Writes `length` bytes, or fewer when a failure is injected; true when all went out.
bool WriteAll(HANDLE file, const void* data, size_t length) {
    long limit = g_failAfterBytes.load();
    size_t allowed = limit >= 0 && static_cast<size_t>(limit) < length ? static_cast<size_t>(limit) : length;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < allowed) {
        DWORD chunk = static_cast<DWORD>(allowed - done > 0x40000000 ? 0x40000000 : allowed - done);
        DWORD put = 0;
        if (!WriteFile(file, p + done, chunk, &put, nullptr) || put == 0) return false;
        done += put;
    }
    if (done < length) SetLastError(ERROR_WRITE_FAULT);
    return done == length;
}

void FillFindData(const WIN32_FIND_DATAW& in, KzFindData* out) {
    out->dwFileAttributes = in.dwFileAttributes;
    out->nFileSize = (static_cast<uint64_t>(in.nFileSizeHigh) << 32) | in.nFileSizeLow;
    KzUtf16ToUtf8(reinterpret_cast<const uint16_t*>(in.cFileName), static_cast<size_t>(-1),
                  out->cFileName, sizeof out->cFileName);
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzSetRootDir(const char* hostDir) {
    auto& r = RootState();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.dir = hostDir ? hostDir : "";
}

// The text stays valid until the root changes again.
KZ_PLATFORM_API const char* KzGetRootDir(void) {
    std::string root = CurrentRoot();
    auto& r = RootState();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.reported != root) r.reported = root;
    return r.reported.c_str();
}

KZ_PLATFORM_API int KzMapPath(const char* unitPath, char* out, size_t outSize) {
    if (!unitPath || !out) return -1;
    std::string host = MapToHost(unitPath);
    if (host.size() + 1 > outSize) return -1;
    memcpy(out, host.c_str(), host.size() + 1);
    return static_cast<int>(host.size());
}

// Files are always opened binary, so they hold the same bytes as on POSIX.
KZ_PLATFORM_API FILE* KzFopen(const char* unitPath, const char* mode) {
    if (!unitPath || !mode) return nullptr;
    std::string m = mode;
    if (m.find('b') == std::string::npos && m.find('t') == std::string::npos) m += 'b';
    return _wfopen(HostPath(unitPath).c_str(), Widen(m.c_str()).c_str());
}

// A temporary file beside the target, written, flushed to the disk, then
// moved over the target in one step; on any failure the old file stays.
KZ_PLATFORM_API int KzWriteFileAtomic(const char* unitPath, const void* data, size_t length) {
    if (!unitPath || (!data && length)) return 0;
    const std::wstring target = HostPath(unitPath);
    const std::wstring temp = target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(g_tempCounter.fetch_add(1));
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    bool ok = WriteAll(file, data, length) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (ok) {
        ok = MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        SetLastError(error);
    }
    return ok ? 1 : 0;
}

KZ_PLATFORM_API size_t KzAppendFile(const char* unitPath, const void* data, size_t length) {
    if (!unitPath || (!data && length)) return 0;
    HANDLE file = CreateFileW(HostPath(unitPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER before{}, after{};
    SetFilePointerEx(file, LARGE_INTEGER{}, &before, FILE_END);
    WriteAll(file, data, length);
    FlushFileBuffers(file);
    SetFilePointerEx(file, LARGE_INTEGER{}, &after, FILE_END);
    CloseHandle(file);
    return static_cast<size_t>(after.QuadPart - before.QuadPart);
}

KZ_PLATFORM_API uint32_t KzGetFileAttributes(const char* unitPath) {
    if (!unitPath) return KZ_INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(HostPath(unitPath).c_str());
}

KZ_PLATFORM_API int KzSetFileAttributes(const char* unitPath, uint32_t attributes) {
    if (!unitPath) return 0;
    return SetFileAttributesW(HostPath(unitPath).c_str(), attributes) ? 1 : 0;
}

KZ_PLATFORM_API int KzCreateDirectory(const char* unitPath) {
    if (!unitPath) return 0;
    return CreateDirectoryW(HostPath(unitPath).c_str(), nullptr) ? 1 : 0;
}

KZ_PLATFORM_API int KzRemoveDirectory(const char* unitPath) {
    if (!unitPath || Components(unitPath).empty()) {   // never the root itself
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return RemoveDirectoryW(HostPath(unitPath).c_str()) ? 1 : 0;
}

KZ_PLATFORM_API int KzDeleteFile(const char* unitPath) {
    if (!unitPath) return 0;
    return DeleteFileW(HostPath(unitPath).c_str()) ? 1 : 0;
}

KZ_PLATFORM_API KzHandle KzFindFirstFile(const char* unitPattern, KzFindData* data) {
    if (!unitPattern || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return KZ_INVALID_HANDLE;
    }
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(HostPath(unitPattern).c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) FillFindData(found, data);
    return h;
}

KZ_PLATFORM_API int KzFindNextFile(KzHandle find, KzFindData* data) {
    WIN32_FIND_DATAW found{};
    if (!data || !FindNextFileW(find, &found)) return 0;
    FillFindData(found, data);
    return 1;
}

KZ_PLATFORM_API int KzFindClose(KzHandle find) { return FindClose(find) ? 1 : 0; }

// The program's file name as a head-unit path, as on POSIX:
// "\" + $KZ_TARN_EXE_DIR + "\" + the program's own file name.
KZ_PLATFORM_API uint32_t KzGetModuleFileName(char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string exe = n > 0 && n < MAX_PATH ? Narrow(self) : std::string("program.exe");
    size_t slash = exe.find_last_of("\\/");
    if (slash != std::string::npos) exe.erase(0, slash + 1);
    std::string path = "\\";
    if (const char* dir = getenv(kExeDirVariable); dir && *dir) {
        std::string d = dir;
        while (!d.empty() && (d.front() == '\\' || d.front() == '/')) d.erase(0, 1);
        while (!d.empty() && (d.back() == '\\' || d.back() == '/')) d.pop_back();
        if (!d.empty()) path += d + "\\";
    }
    path += exe;
    size_t copy = path.size() < size - 1 ? path.size() : size - 1;
    memcpy(out, path.data(), copy);
    out[copy] = '\0';
    return static_cast<uint32_t>(copy);
}

KZ_PLATFORM_API void KzInjectWriteFailure(long failAfterBytes) { g_failAfterBytes = failAfterBytes; }

}  // extern "C"
