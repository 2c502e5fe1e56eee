// Mapping of head-unit paths below the root directory.
#pragma once
#include <string>
#include <vector>

namespace kz::platform {

// Splits a head-unit path at "\" and "/" into its components, dropping
// empty ones, "." and ".." (nothing may climb above the root).
std::vector<std::string> SplitUnitPath(const char* unitPath);

// The host path: each component matched case-insensitively against what
// exists (first match in sorted order), else kept as spelled.
std::string MapUnitPath(const char* unitPath);

// The entry of `dir` whose name equals `name` ignoring ASCII case, or "".
std::string MatchEntry(const std::string& dir, const std::string& name);

bool EqualsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace kz::platform
