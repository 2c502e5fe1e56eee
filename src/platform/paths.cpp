// The head unit's file system is case-insensitive and case-preserving, with
// "\" separators. Its paths are mapped below one root directory.
#include "paths.h"

#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <strings.h>

#include "kz_platform.h"

namespace kz::platform {
namespace {

constexpr const char kRootVariable[] = "KZ_TARN_ROOT";

struct RootState {
    std::mutex mutex;
    // Every root ever chosen stays allocated, so a pointer returned by
    // KzGetRootDir stays valid while another thread changes the root.
    std::list<std::string> roots;
};

RootState& Roots() {
    static auto* state = new RootState;
    return *state;
}

std::string DefaultRoot() {
    if (const char* env = getenv(kRootVariable); env && *env) return env;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? cwd : ".";
}

const std::string& CurrentRootLocked(RootState& state) {
    if (state.roots.empty()) state.roots.push_back(DefaultRoot());
    return state.roots.back();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::string> SplitUnitPath(const char* unitPath) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (!part.empty() && part != "." && part != "..") parts.push_back(part);
        part.clear();
    };
    for (const char* p = unitPath ? unitPath : ""; *p; ++p) {
        if (IsSeparator(*p))
            flush();
        else
            part += *p;
    }
    flush();
    return parts;
}

std::string MatchEntry(const std::string& dir, const std::string& name) {
    DIR* d = opendir(dir.c_str());
    if (!d) return {};
    std::string best;
    while (dirent* e = readdir(d)) {
        std::string entry = e->d_name;
        if (EqualsIgnoreCase(entry, name) && (best.empty() || entry < best)) best = entry;
    }
    closedir(d);
    return best;
}

std::string MapUnitPath(const char* unitPath) {
    std::string host = KzGetRootDir();
    for (const auto& part : SplitUnitPath(unitPath)) {
        std::string found = MatchEntry(host, part);
        if (host.back() != '/') host += '/';
        host += found.empty() ? part : found;
    }
    return host;
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzSetRootDir(const char* hostDir) {
    auto& state = Roots();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::string root = hostDir && *hostDir ? hostDir : DefaultRoot();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    state.roots.push_back(std::move(root));
}

KZ_PLATFORM_API const char* KzGetRootDir(void) {
    auto& state = Roots();
    std::lock_guard<std::mutex> lock(state.mutex);
    return CurrentRootLocked(state).c_str();
}

KZ_PLATFORM_API int KzMapPath(const char* unitPath, char* out, size_t outSize) {
    std::string host = MapUnitPath(unitPath);
    if (!out || host.size() + 1 > outSize) return -1;
    memcpy(out, host.c_str(), host.size() + 1);
    return static_cast<int>(host.size());
}

}  // extern "C"
