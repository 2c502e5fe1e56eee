// Module message layout: length in 16-bit words, marker, class, id, params.
#include <algorithm>
#include <cstddef>

#include "module_simulator.h"
#include "sim_protocol.h"

namespace kzsim {

std::vector<uint8_t> BuildModuleMessage(uint16_t id, uint8_t cls,
                                        const std::vector<uint8_t>& params) {
    std::vector<uint8_t> m(kMsgParams + params.size());
    std::copy(params.begin(), params.end(), m.begin() + kMsgParams);
    if (m.size() % 2 != 0) {
        m.push_back(0);  // messages have an even length; the pad is counted
    }
    const size_t words = m.size() / 2;
    m[0] = static_cast<uint8_t>(words & 0xFF);
    m[1] = static_cast<uint8_t>(words >> 8);
    m[2] = kMsgMarker;
    m[3] = cls;
    m[4] = static_cast<uint8_t>(id & 0xFF);
    m[5] = static_cast<uint8_t>(id >> 8);
    return m;
}

uint16_t MessageId(const std::vector<uint8_t>& message) {
    if (message.size() < kMsgParams) {
        return 0;
    }
    return static_cast<uint16_t>(message[4] | (message[5] << 8));
}

}  // namespace kzsim
