// How a device control block maps onto termios. Kept apart (and inline) so
// that the mapping can be checked directly: a pseudo-terminal, which stands
// in for the line in tests, forces CS8 and drops PARENB on its own.
#pragma once
#include <termios.h>

#include <cstdint>

#include "kz_platform.h"

namespace kz::platform {

inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityOdd = 1;
inline constexpr uint8_t kParityEven = 2;
inline constexpr uint8_t kTwoStopBits = 2;
inline constexpr uint8_t kDefaultByteSize = 8;

struct BaudRate {
    uint32_t rate;
    speed_t speed;
};
inline constexpr BaudRate kBaudRates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

inline bool SpeedOf(uint32_t rate, speed_t& speed) {
    for (const auto& b : kBaudRates)
        if (b.rate == rate) {
            speed = b.speed;
            return true;
        }
    return false;
}

inline uint32_t RateOf(speed_t speed) {
    for (const auto& b : kBaudRates)
        if (b.speed == speed) return b.rate;
    return 0;
}

inline tcflag_t SizeFlag(uint8_t byteSize) {
    switch (byteSize) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

inline uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

// Raw mode with the DCB's framing; the speed is left to the caller.
inline void ApplyDcb(termios& tio, const KzDcb& dcb) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= SizeFlag(dcb.ByteSize) | CLOCAL | CREAD;
    if (dcb.Parity == kParityEven || dcb.Parity == kParityOdd) tio.c_cflag |= PARENB;
    if (dcb.Parity == kParityOdd) tio.c_cflag |= PARODD;
    if (dcb.StopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow & 1) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (dcb.fParity & 1) tio.c_iflag |= INPCK;
    if (dcb.fOutX & 1) tio.c_iflag |= IXON;
    if (dcb.fInX & 1) tio.c_iflag |= IXOFF;
    tio.c_cc[VMIN] = 0;   // reads return what is waiting
    tio.c_cc[VTIME] = 0;
}

}  // namespace kz::platform
