// Names of the module messages for traces: the request catalogue for what the
// host sends, and the dispatch table's ids for what the module sends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kztool {

// "REQ_DIAL" for a request id, or null.
const char* RequestName(uint16_t id);
// "CFM dial", "IND HFP indicator", ... for a module message id, or null.
const char* ModuleMessageName(uint16_t id);

// One module message in words: name, id, class and the parameters
// (decoded where their layout is known, else in hex).
std::string DescribeModuleMessage(bool fromHost, const uint8_t* message, size_t length);

std::string HexBytes(const uint8_t* data, size_t n, size_t max = 48);

}  // namespace kztool
