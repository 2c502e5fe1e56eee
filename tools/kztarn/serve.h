// `kztarn serve`: the library behind a head unit's phone screen in the browser.
#pragma once
#include <string>
#include <vector>

namespace kztool {

int RunServe(const std::vector<std::string>& args);

}  // namespace kztool
