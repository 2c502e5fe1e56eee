// The page of `kztarn serve`: the files of tools/kztarn/web, built into the
// program (cmake/embed_web.cmake writes them into a source file).
#pragma once
#include <string_view>

namespace kztool {

struct WebAsset {
    std::string_view path;          // "/", "/app.js", ...
    std::string_view contentType;
    std::string_view body;
};

// The asset served at this path, or null.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace kztool
