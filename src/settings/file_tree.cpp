// Directory helpers of the registry: existence test and recursive deletion.
#include <strings.h>

#include <string>
#include <vector>

#include "kz_platform.h"
#include "settings/registry.h"

namespace kz {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithoutTrailingSeparators(const char* path) {
    std::string p = path;
    while (!p.empty() && IsSeparator(p.back())) p.pop_back();
    return p;
}

bool IsDotEntry(const char* name) {
    return strcasecmp(name, ".") == 0 || strcasecmp(name, "..") == 0;
}

struct DirEntry {
    std::string name;
    bool directory;
};

// The folder's entries without "." and ".."; false when it cannot be listed.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
    KzFindData fd{};
    KzHandle find = KzFindFirstFile((dir + "\\*").c_str(), &fd);
    if (find == KZ_INVALID_HANDLE) return false;
    do {
        if (!IsDotEntry(fd.cFileName))
            entries->push_back({fd.cFileName, (fd.dwFileAttributes & KZ_FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (KzFindNextFile(find, &fd));
    KzFindClose(find);
    return true;
}

}  // namespace

bool DirectoryExists(const char* path) {
    if (!path) return false;
    std::string p = WithoutTrailingSeparators(path);
    KzFindData fd{};
    KzHandle find = KzFindFirstFile(p.c_str(), &fd);
    if (find == KZ_INVALID_HANDLE) return false;
    KzFindClose(find);
    return (fd.dwFileAttributes & KZ_FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int DeleteTree(const char* path) {
    if (!path) return 0;
    std::string dir = WithoutTrailingSeparators(path);
    std::vector<DirEntry> entries;
    // An empty folder lists nothing here (there are no "." entries to find),
    // yet it is there to be removed.
    if (!ListDirectory(dir, &entries) && !DirectoryExists(dir.c_str())) return 0;
    for (const DirEntry& e : entries) {
        std::string child = dir + "\\" + e.name;
        if (e.directory) {
            DeleteTree(child.c_str());
        } else {
            KzSetFileAttributes(child.c_str(), KZ_FILE_ATTRIBUTE_NORMAL);
            KzDeleteFile(child.c_str());
        }
    }
    KzRemoveDirectory(dir.c_str());
    return 1;
}

}  // namespace kz
