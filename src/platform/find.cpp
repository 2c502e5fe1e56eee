// Directory searches: "*" lists a folder (with "." and "..", which callers
// skip), other patterns match names ignoring case ("?" and "*" wildcards).
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "handles.h"
#include "paths.h"

namespace kz::platform {
namespace {

struct FoundEntry {
    std::string name;
    uint32_t attributes;
    uint64_t size;
};

class Search final : public Object {
public:
    std::vector<FoundEntry> entries;
    size_t next = 0;
    std::mutex mutex;
};

bool IsWildcard(const std::string& pattern) {
    return pattern.find_first_of("*?") != std::string::npos;
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (IsWildcard(pattern)) return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
    return EqualsIgnoreCase(pattern, name);
}

FoundEntry Describe(const std::string& dir, const std::string& name) {
    struct stat st {};
    FoundEntry e{name, KZ_FILE_ATTRIBUTE_NORMAL, 0};
    if (stat((dir + "/" + name).c_str(), &st) == 0) {
        uint32_t a = 0;
        if (S_ISDIR(st.st_mode)) a |= KZ_FILE_ATTRIBUTE_DIRECTORY;
        if (!(st.st_mode & S_IWUSR)) a |= KZ_FILE_ATTRIBUTE_READONLY;
        e.attributes = a ? a : KZ_FILE_ATTRIBUTE_NORMAL;
        e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    }
    return e;
}

// "." and ".." first, then the names in sorted order.
bool ListedBefore(const FoundEntry& a, const FoundEntry& b) {
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
    return a.name < b.name;
}

std::vector<FoundEntry> Collect(const std::string& dir, const std::string& pattern) {
    std::vector<FoundEntry> found;
    DIR* d = opendir(dir.c_str());
    if (!d) return found;
    bool listing = IsWildcard(pattern);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (!listing && (name == "." || name == "..")) continue;
        if (NameMatches(pattern, name)) found.push_back(Describe(dir, name));
    }
    closedir(d);
    std::sort(found.begin(), found.end(), ListedBefore);
    if (!listing && found.size() > 1) found.resize(1);   // first match, as paths map
    return found;
}

void Fill(const FoundEntry& e, KzFindData* data) {
    data->dwFileAttributes = e.attributes;
    data->nFileSize = e.size;
    size_t n = std::min(e.name.size(), sizeof data->cFileName - 1);
    memcpy(data->cFileName, e.name.data(), n);
    data->cFileName[n] = '\0';
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API KzHandle KzFindFirstFile(const char* unitPattern, KzFindData* data) {
    auto parts = SplitUnitPath(unitPattern);
    if (parts.empty() || !data) {
        SetLastError(KZ_ERROR_FILE_NOT_FOUND);
        return KZ_INVALID_HANDLE;
    }
    std::string pattern = parts.back();
    std::string folder;
    for (size_t i = 0; i + 1 < parts.size(); ++i) folder += "\\" + parts[i];
    std::string dir = MapUnitPath(folder.c_str());
    auto search = std::make_shared<Search>();
    search->entries = Collect(dir, pattern);
    if (search->entries.empty()) {
        SetLastError(KZ_ERROR_FILE_NOT_FOUND);
        return KZ_INVALID_HANDLE;
    }
    Fill(search->entries[0], data);
    search->next = 1;
    return InsertHandle(search);
}

KZ_PLATFORM_API int KzFindNextFile(KzHandle find, KzFindData* data) {
    auto search = Lookup<Search>(find);
    if (!search || !data) return 0;
    std::lock_guard<std::mutex> lock(search->mutex);
    if (search->next >= search->entries.size()) {
        SetLastError(kErrorNoMoreFiles);
        return 0;
    }
    Fill(search->entries[search->next++], data);
    return 1;
}

KZ_PLATFORM_API int KzFindClose(KzHandle find) {
    if (!Lookup<Search>(find)) return 0;
    return KzCloseHandle(find);
}

}  // extern "C"
