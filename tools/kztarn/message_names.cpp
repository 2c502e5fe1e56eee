#include "message_names.h"

#include <cstdio>

namespace kztool {

namespace {

struct Name {
    uint16_t id;
    const char* name;
};

constexpr Name kRequests[] = {
    {1, "REQ_RESET_AT_COMMAND"},   {3, "REQ_SET_NIBBLE_MASK"},     {4, "REQ_SET_MIC_GAIN"},
    {5, "REQ_SET_LEVEL"},          {6, "REQ_SET_OPTION_6"},        {8, "REQ_REMOTE_NAME"},
    {9, "REQ_SET_LOCAL_NAME"},     {10, "REQ_INQUIRY"},            {11, "REQ_SET_VISIBLE_MODE"},
    {12, "REQ_CONNECT_PROFILE"},   {13, "REQ_DISCONNECT_PROFILE"}, {14, "REQ_AUDIO_TO_HANDSFREE"},
    {15, "REQ_AUDIO_TO_PHONE"},    {20, "REQ_ENTER_DUT_MODE"},     {23, "REQ_SET_MIC_VOLUME"},
    {26, "REQ_SET_OPTION_26"},     {30, "REQ_SDP_QUERY"},          {33, "REQ_SET_MIC_MODE"},
    {60, "REQ_LINK_KEY_REPLY"},    {61, "REQ_PIN_CODE_REPLY"},     {63, "REQ_AUTHORISE_REPLY"},
    {80, "REQ_ANSWER"},            {82, "REQ_DIAL"},               {86, "REQ_DTMF"},
    {88, "REQ_CURRENT_CALLS"},     {90, "REQ_CALL_HOLD"},          {160, "REQ_REPLY_160"},
    {161, "REQ_REPLY_161"},        {258, "REQ_MEDIA_OPEN"},        {288, "REQ_AVRCP_PASS_THROUGH"},
    {289, "REQ_AVRCP_VENDOR"},     {291, "REQ_REPLY_291"},         {512, "REQ_PBAP_PULL"},
    {529, "REQ_PBAP_CONTINUE"},
};

constexpr Name kModuleMessages[] = {
    {3, "CFM nibble mask"},          {4, "CFM microphone gain"},      {5, "CFM level"},
    {6, "CFM option 6"},             {8, "CFM remote name"},          {9, "CFM local name"},
    {10, "CFM inquiry complete"},    {11, "CFM visible mode"},        {12, "CFM profile connect"},
    {13, "CFM profile disconnect"},  {14, "CFM audio to car"},        {15, "CFM audio to phone"},
    {16, "CFM RSSI"},                {18, "CFM 18"},                  {20, "CFM test mode"},
    {23, "CFM microphone volume"},   {24, "CFM firmware image"},      {26, "CFM option 26"},
    {30, "CFM SDP query"},           {33, "CFM microphone mode"},     {48, "IND module ready"},
    {49, "IND inquiry result"},      {50, "IND profile connected"},   {51, "IND profile disconnected"},
    {52, "IND call audio connected"}, {53, "IND call audio disconnected"}, {54, "IND 54"},
    {55, "IND 55"},                  {56, "IND 56"},                  {58, "IND 58"},
    {59, "IND pairing result"},      {60, "IND link-key request"},    {61, "IND PIN-code request"},
    {62, "IND SDP service record"},  {63, "IND authorisation request"}, {64, "IND 64"},
    {80, "CFM answer"},              {82, "CFM dial"},                {84, "CFM 84"},
    {86, "CFM DTMF"},                {88, "CFM current calls"},       {90, "CFM call hold"},
    {112, "IND in-band ring"},       {113, "IND HFP indicator"},      {114, "IND 114"},
    {115, "IND call setup number"},  {116, "IND waiting/held number"}, {117, "IND 117"},
    {118, "IND 118"},                {119, "IND 119"},                {120, "IND 120"},
    {121, "IND current call"},       {122, "IND number of calls"},    {123, "IND 123"},
    {124, "IND 124"},                {125, "IND 125"},                {160, "IND 160"},
    {161, "IND 161"},                {162, "IND 162"},                {163, "IND 163"},
    {164, "IND 164"},                {254, "CFM 254"},                {256, "CFM 256"},
    {257, "CFM 257"},                {258, "CFM media open"},         {259, "CFM media close"},
    {272, "IND 272"},                {273, "IND A2DP streaming"},     {274, "IND A2DP suspended"},
    {275, "IND media opened"},       {276, "IND media closed"},       {277, "IND microphone mute"},
    {288, "CFM AVRCP pass-through"}, {289, "CFM AVRCP vendor"},       {290, "CFM 290"},
    {308, "IND AVRCP status"},       {309, "IND 309"},                {310, "IND AVRCP vendor header"},
    {311, "IND 311"},                {512, "CFM phonebook size"},     {528, "IND phonebook complete"},
    {529, "IND phonebook data"},
};

const char* Find(const Name* table, size_t n, uint16_t id) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].id == id) return table[i].name;
    return nullptr;
}

constexpr size_t kParams = 6;

const char* ProfileName(uint8_t p) {
    switch (p) {
        case 1: return "HFP";
        case 3: return "A2DP";
        case 4: return "AVRCP";
        case 5: return "PBAP";
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
        case 12:
            if (np >= 7) return std::string(ProfileName(p[0])) + " to " + Address(p + 1);
            break;
        case 13:
            if (np >= 1) return ProfileName(p[0]);
            break;
        case 82:
            if (np >= 3) return "number \"" + Printable(p + 3, std::min<size_t>(p[2], np - 3)) + "\"";
            break;
        case 9:
            if (np >= 2) return "name \"" + Printable(p + 2, std::min<size_t>(p[1], np - 2)) + "\"";
            break;
        case 80:
            if (np >= 1) return p[0] ? "answer" : "hang up";
            break;
        case 86:
            if (np >= 1) return std::string("tone '") + char(p[0]) + "'";
            break;
        case 90:
            if (np >= 1) return "hold code " + std::to_string(p[0]);
            break;
        case 288:
            if (np >= 5) {
                std::snprintf(text, sizeof text, "operation 0x%02X %s", p[4], p[3] ? "released" : "pressed");
                return text;
            }
            break;
        case 512:
            if (np >= 14) {
                std::snprintf(text, sizeof text, "type %u count %u start %u", (p[0] << 8) | p[1],
                              (p[10] << 8) | p[11], (p[12] << 8) | p[13]);
                return text;
            }
            break;
        case 11:
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
        case 50:   // status, the phone's address, profile
            if (np >= 8) return "status " + std::to_string(p[0]) + " " + ProfileName(p[7]) + " " + Address(p + 1);
            break;
        case 51:   // status, profile
            if (np >= 2) return "status " + std::to_string(p[0]) + " " + ProfileName(p[1]);
            break;
        case 113:
            if (np >= 2) return "indicator " + std::to_string(p[0]) + " = " + std::to_string(p[1]);
            break;
        case 529:
            return "\"" + Printable(p, np) + "\"";
        default:
            break;
    }
    return out + (nrest ? HexBytes(rest, nrest) : "");
}

}  // namespace

const char* RequestName(uint16_t id) { return Find(kRequests, std::size(kRequests), id); }

const char* ModuleMessageName(uint16_t id) {
    return Find(kModuleMessages, std::size(kModuleMessages), id);
}

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
    if (n < kParams || m[2] != 0x55) return "not a module message: " + HexBytes(m, n);
    const uint16_t id = static_cast<uint16_t>(m[4] | (m[5] << 8));
    const unsigned words = m[0] | (m[1] << 8);
    std::string out;
    if (fromHost) {
        const char* name = RequestName(id);
        // A 6-byte message with an indication's id is the host's plain response.
        if (n == kParams && ModuleMessageName(id) && (!name || id == 529)) {
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
