// Internal state of the phone model, shared by the phone's source files.
#pragma once
#include <cstdint>
#include <vector>

#include "phone.h"

namespace kzsim {

struct Phone::State {
    void ResetRuntime() {}
    bool Handle(uint16_t, const std::vector<uint8_t>&, Outbox&) { return false; }
};

}  // namespace kzsim
