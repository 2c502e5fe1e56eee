// The phone model: state and request dispatch.
#include "phone.h"

#include "phone_state.h"

namespace kzsim {

Phone::Phone() : state_(std::make_unique<State>()) {}
Phone::~Phone() = default;

void Phone::SetOutbox(Outbox* outbox) {
    std::lock_guard<std::mutex> lock(mutex_);
    outbox_ = outbox;
}

void Phone::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->ResetRuntime();
}

bool Phone::OnRequest(uint16_t id, const std::vector<uint8_t>& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outbox_ == nullptr) {
        return false;
    }
    return state_->Handle(id, message, *outbox_);
}

}  // namespace kzsim
