#include "message_names.h"

#include <cstdio>

#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "channel/requests.h"

namespace kztool {

namespace {

namespace msgid = kz::msgid;

constexpr size_t kParams = kz::msg::kParamOffset;

const char* ProfileName(uint8_t p) {
    switch (p) {
        case kz::kProfileHfp: return "HFP";
        case kz::kProfileA2dp: return "A2DP";
        case kz::kProfileAvrcp: return "AVRCP";
        case kz::kProfilePbap: return "PBAP";
        default: return "profile?";
    }
}

std::string Address(const uint8_t* a) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

std::string Printable(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n && p[i] != 0; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? char(p[i]) : '.';
    return s;
}

// Decoded parameters of the host's requests whose layout matters most.
std::string RequestParams(uint16_t id, const uint8_t* m, size_t n) {
    const uint8_t* p = m + kParams;
    const size_t np = n - kParams;
    char text[160];
    switch (id) {
        case msgid::kConnectProfile:
            if (np >= 7) return std::string(ProfileName(p[0])) + " to " + Address(p + 1);
            break;
        case msgid::kDisconnectProfile:
            if (np >= 1) return ProfileName(p[0]);
            break;
        case msgid::kDial:
            if (np >= 3) return "number \"" + Printable(p + 3, std::min<size_t>(p[2], np - 3)) + "\"";
            break;
        case msgid::kSetLocalName:
            if (np >= 2) return "name \"" + Printable(p + 2, std::min<size_t>(p[1], np - 2)) + "\"";
            break;
        case msgid::kAnswer:
            if (np >= 1) return p[0] ? "answer" : "hang up";
            break;
        case msgid::kDtmf:
            if (np >= 1) return std::string("tone '") + char(p[0]) + "'";
            break;
        case msgid::kCallHold:
            if (np >= 1) return "hold code " + std::to_string(p[0]);
            break;
        case msgid::kAvrcpPassThrough:
            if (np >= 5) {
                std::snprintf(text, sizeof text, "operation 0x%02X %s", p[4], p[3] ? "released" : "pressed");
                return text;
            }
            break;
        case msgid::kPbapPull:
            if (np >= 14) {
                std::snprintf(text, sizeof text, "type %u count %u start %u", (p[0] << 8) | p[1],
                              (p[10] << 8) | p[11], (p[12] << 8) | p[13]);
                return text;
            }
            break;
        case msgid::kSetVisibleMode:
            if (np >= 8) return p[1] ? "visible" : "hidden";
            break;
        default:
            break;
    }
    return np ? HexBytes(p, np) : "";
}

std::string ModuleParams(uint16_t id, const uint8_t* m, size_t n, bool isConfirm) {
    const uint8_t* p = m + kParams;
    const size_t np = n - kParams;
    if (np == 0) return "";
    std::string out;
    if (isConfirm) out = "status " + std::to_string(p[0]) + (np > 1 ? " " : "");
    const uint8_t* rest = isConfirm ? p + 1 : p;
    const size_t nrest = isConfirm ? np - 1 : np;
    switch (id) {
        case msgid::kProfileConnected:   // status, the phone's address, profile
            if (np >= 8) return "status " + std::to_string(p[0]) + " " + ProfileName(p[7]) + " " + Address(p + 1);
            break;
        case msgid::kProfileDisconnected:   // status, profile
            if (np >= 2) return "status " + std::to_string(p[0]) + " " + ProfileName(p[1]);
            break;
        case msgid::kHfpIndicator:
            if (np >= 2) return "indicator " + std::to_string(p[0]) + " = " + std::to_string(p[1]);
            break;
        case msgid::kPbapData:
            return "\"" + Printable(p, np) + "\"";
        default:
            break;
    }
    return out + (nrest ? HexBytes(rest, nrest) : "");
}

}  // namespace

const char* RequestName(uint16_t id) { return kz::msgid::HostName(id); }

const char* ModuleMessageName(uint16_t id) { return kz::msgid::ModuleName(id); }

std::string HexBytes(const uint8_t* data, size_t n, size_t max) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < n && i < max; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02x" : "%02x", data[i]);
        out += byte;
    }
    if (n > max) out += " ... (" + std::to_string(n) + " bytes)";
    return out;
}

std::string DescribeModuleMessage(bool fromHost, const uint8_t* m, size_t n) {
    if (n < kParams || m[2] != kz::msg::kMarker) return "not a module message: " + HexBytes(m, n);
    const uint16_t id = kz::msg::Id(m);
    const unsigned words = m[0] | (m[1] << 8);
    std::string out;
    if (fromHost) {
        const char* name = RequestName(id);
        // A 6-byte message with an indication's id is the host's plain response.
        if (n == kParams && ModuleMessageName(id) && (!name || id == msgid::kPbapData)) {
            out = std::string("RES to ") + ModuleMessageName(id) + " (" + std::to_string(id) + ")";
            return out;
        }
        out = std::string(name ? name : "REQ ?") + " (" + std::to_string(id) + ")";
        const std::string params = RequestParams(id, m, n);
        if (!params.empty()) out += ": " + params;
    } else {
        const char* name = ModuleMessageName(id);
        out = std::string(name ? name : "message ?") + " (" + std::to_string(id) + ")";
        const bool confirm = name && name[0] == 'C';
        const std::string params = ModuleParams(id, m, n, confirm);
        if (!params.empty()) out += ": " + params;
    }
    if (words * 2 != n) out += "  [length field " + std::to_string(words) + " words]";
    out += "  class " + std::to_string(m[3]);
    return out;
}

}  // namespace kztool
