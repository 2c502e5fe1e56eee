// Open devices and files behind KzCreateFile: a serial line, the EEPROM
// stand-in, or a plain file. Each holds a file descriptor; a serial line
// also holds an eventfd that cancels a blocked KzWaitCommInput.
#pragma once
#include "handles.h"

namespace kz::platform {

enum class DeviceKind { Serial, Eeprom, File };

class Device final : public Object {
public:
    Device(DeviceKind kind, int fd, int wakeFd) : kind(kind), fd(fd), wakeFd(wakeFd) {}
    ~Device() override;
    void OnClose() override;   // wakes a waiter so it lets go of the line

    const DeviceKind kind;
    const int fd;
    const int wakeFd;   // -1 unless serial
};

std::shared_ptr<Device> LookupDevice(KzHandle h, DeviceKind kind);

// Serial side of KzCreateFile: "COM<n>:" (n parsed by the caller).
KzHandle OpenSerialPort(unsigned portNumber);

}  // namespace kz::platform
