// One vocabulary for the table tests of the connection handlers and the
// exports: the connection state as bits that a row sets before and checks
// after, the requests a row expects spelled as words, and what reached the
// host spelled as "code/param".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kztest {

inline constexpr uint32_t kHfp = 1u << 0, kPbap = 1u << 1, kA2dp = 1u << 2, kAvrcp = 1u << 3,
                          kConnecting = 1u << 4, kAuto = 1u << 5, kInquiryWaits = 1u << 6,
                          kDisconnectWaits = 1u << 7, kPairing = 1u << 8, kMusicSource = 1u << 9,
                          kPbapDone = 1u << 10, kPbDone = 1u << 11, kPbStarted = 1u << 12,
                          kPbPausedByCall = 1u << 13, kInquiring = 1u << 14, kUnknownPeer = 1u << 15,
                          kInited = 1u << 16, kRetry1 = 1u << 17, kRetry2 = 2u << 17;

// Sets the state (kPairing also chooses inquiry result 4 as the phone to pair).
void ApplyState(uint32_t flags);
uint32_t ObserveState();
// "hfp|a2dp" for a failure message; "none" for 0.
std::string DescribeState(uint32_t flags);

// A request as a table spells it: "connect hfp", "disconnect a2dp", "hide",
// "show", "inquiry", "name", "sdp", "pull", "answer 1", "hold 2"; a connect
// or name request to another address than `phone` gets " elsewhere".
std::string SpellRequest(const SubmittedMessage& m, const std::vector<uint8_t>& phone);
std::vector<std::string> SpellRequests(const SubmitRecorder& r, const std::vector<uint8_t>& phone);

// Notifications as "code/param" (66 and 84 with their text), then the
// navigation posts "navig w/l", then status-bar call records "call kind".
std::vector<std::string> SpellReports(HostWindows& host);

}  // namespace kztest
