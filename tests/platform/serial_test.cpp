// Serial lines over a pseudo-terminal: the test plays the module on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "kz_platform.h"
#include "platform/termios_map.h"
#include "support/test_support.h"

namespace {

class Serial : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        slavePath = name;
        // The master stays raw too, so test bytes pass unchanged.
        termios tio;
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
        setenv("KZ_TARN_COM3", slavePath.c_str(), 1);
        port = KzCreateFile("COM3:", KZ_GENERIC_READ | KZ_GENERIC_WRITE, 0, KZ_OPEN_EXISTING, 0);
        ASSERT_NE(port, KZ_INVALID_HANDLE);
    }
    void TearDown() override {
        if (port != KZ_INVALID_HANDLE) KzCloseHandle(port);
        if (master >= 0) close(master);
        close(slave);
        unsetenv("KZ_TARN_COM3");
    }
    uint32_t Waiting() {
        uint32_t errors = 0;
        KzComStat stat{};
        EXPECT_EQ(KzClearCommError(port, &errors, &stat), 1);
        return stat.cbInQue;
    }
    // Waits until the port shows n bytes waiting (pty transfer is asynchronous).
    bool WaitForBytes(uint32_t n) {
        return kztest::PollUntil([&] { return Waiting() >= n; }, 3000, [&] { KzWaitCommInput(port, 10); });
    }
    std::string ReadMaster(size_t n) {
        std::string got;
        kztest::PollUntil([&] { return got.size() >= n; }, 3000, [&] {
            pollfd pfd{master, POLLIN, 0};
            char buf[256];
            ssize_t r = poll(&pfd, 1, 10) > 0 ? read(master, buf, std::min(sizeof buf, n - got.size())) : 0;
            if (r > 0) got.append(buf, static_cast<size_t>(r));
        });
        return got;
    }

    int master = -1, slave = -1;
    std::string slavePath;
    KzHandle port = KZ_INVALID_HANDLE;
};

// A pty keeps no parity bit of its own, so that part of the mapping is seen here.
TEST(TermiosMap, ParityNoneOddOrEven) {
    const std::pair<uint8_t, tcflag_t> cases[] = {{0, 0}, {1, PARENB | PARODD}, {2, PARENB}};
    for (const auto& [parity, flags] : cases) {
        termios tio{};
        tio.c_cflag = PARENB | PARODD;
        KzDcb dcb{};
        dcb.ByteSize = 8;
        dcb.Parity = parity;
        kz::platform::ApplyDcb(tio, dcb);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD), flags) << int(parity);
    }
}

// The pty's slave starts cooked: the open must leave it raw 8E1.
TEST_F(Serial, CommState_OpenGivesTheRawModuleLine_SetCommStateAppliesAnother) {
    auto attributes = [&] {
        termios tio{};
        int fd = open(slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        EXPECT_EQ(tcgetattr(fd, &tio), 0);
        close(fd);
        return tio;
    };
    KzDcb dcb;
    ASSERT_EQ(KzSetupComm(port, 10240, 10240) + KzGetCommState(port, &dcb), 2);
    dcb.BaudRate = 115200;
    ASSERT_EQ(KzSetCommState(port, &dcb), 1);
    termios tio = attributes();
    EXPECT_EQ(cfgetospeed(&tio) * 1000 + cfgetispeed(&tio), speed_t(B115200) * 1001);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD), tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (INPCK | IXON | IXOFF | ICRNL | ISTRIP), tcflag_t(INPCK));
    EXPECT_FALSE((tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) || (tio.c_oflag & OPOST));
    EXPECT_EQ(tio.c_cc[VMIN] | tio.c_cc[VTIME], 0);
    ASSERT_EQ(KzGetCommState(port, &dcb), 1);
    EXPECT_EQ(std::to_string(dcb.BaudRate) + " " + std::to_string(dcb.ByteSize) + std::to_string(dcb.StopBits) +
                  std::to_string(dcb.fParity) + std::to_string(dcb.fOutxCtsFlow | dcb.fOutX | dcb.fInX),
              "115200 8010");
    dcb.Parity = 1;
    dcb.StopBits = 2;
    dcb.fParity = 0;
    ASSERT_EQ(KzSetCommState(port, &dcb), 1);
    tio = attributes();
    EXPECT_EQ(tio.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_FALSE(tio.c_iflag & INPCK);
    dcb.BaudRate = 12345;   // no such line speed
    EXPECT_EQ(KzSetCommState(port, &dcb), 0);
}

TEST_F(Serial, ReadWrite_BytesPassUnchangedBothWays) {
    const std::string toModule("\xC0\x00\x0D\x0A\x11\x13\xFF\xC0", 8);
    uint32_t written = 0;
    ASSERT_EQ(KzWriteFile(port, toModule.data(), toModule.size(), &written), 1);
    EXPECT_EQ(written, toModule.size());
    EXPECT_EQ(ReadMaster(toModule.size()), toModule);

    const std::string fromModule("\xC0\x0D\x0A\x03\x7F\xDB\xDC\xC0", 8);
    ASSERT_EQ(write(master, fromModule.data(), fromModule.size()), ssize_t(fromModule.size()));
    ASSERT_TRUE(WaitForBytes(fromModule.size()));
    EXPECT_EQ(Waiting(), fromModule.size());   // FIONREAD count
    char buf[32];
    uint32_t got = 0;
    ASSERT_EQ(KzReadFile(port, buf, 3, &got), 1);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(Waiting(), fromModule.size() - 3);
    std::string all(buf, 3);
    ASSERT_EQ(KzReadFile(port, buf, sizeof buf, &got), 1);
    all.append(buf, got);
    EXPECT_EQ(all, fromModule);
    ASSERT_EQ(KzReadFile(port, buf, sizeof buf, &got), 1);   // nothing waiting: no block
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(write(master, "abcdef", 6), 6);
    ASSERT_TRUE(WaitForBytes(6));
    EXPECT_EQ(KzPurgeComm(port, KZ_PURGE_TXCLEAR | KZ_PURGE_RXCLEAR), 1);
    EXPECT_EQ(Waiting(), 0u);
}

TEST_F(Serial, WaitCommInput_WakesOnInputOrCancel_CancelSticky_HangUpReported) {
    EXPECT_EQ(KzWaitCommInput(port, 0), 0);
    std::thread writer([&] { ASSERT_EQ(write(master, "x", 1), 1); });
    EXPECT_EQ(KzWaitCommInput(port, 5000), 1);
    writer.join();
    KzPurgeComm(port, KZ_PURGE_RXCLEAR);

    std::thread canceller([&] { KzCancelCommWait(port); });
    EXPECT_EQ(KzWaitCommInput(port, KZ_INFINITE), 2);
    canceller.join();
    KzCancelCommWait(port);   // before the wait: the next wait returns at once
    EXPECT_EQ(KzWaitCommInput(port, KZ_INFINITE), 2);
    EXPECT_EQ(KzWaitCommInput(port, 0), 0);   // consumed

    close(master);   // the other side hangs up
    master = -1;
    EXPECT_EQ(KzWaitCommInput(port, 5000), -1);
    uint32_t errors = 0;
    KzComStat stat{};
    KzClearCommError(port, &errors, &stat);
    EXPECT_TRUE(errors & KZ_CE_HANGUP);
    EXPECT_EQ(stat.cbInQue, 0u);

    KzHandle old = port;   // a closed port refuses every later call
    EXPECT_EQ(KzCloseHandle(port), 1);
    port = KZ_INVALID_HANDLE;
    char b;
    EXPECT_EQ(KzWriteFile(old, "x", 1, &errors), 0);
    EXPECT_EQ(KzReadFile(old, &b, 1, &errors), 0);
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_INVALID_HANDLE);
    EXPECT_EQ(KzWaitCommInput(old, 0), -1);
    EXPECT_EQ(KzClearCommError(old, &errors, nullptr), 0);
}

TEST(SerialOpen, MissingDeviceOrNonTerminalFails) {
    for (const char* device : {"/dev/null", "/nonexistent/tty"}) {
        setenv("KZ_TARN_COM7", device, 1);
        EXPECT_EQ(KzCreateFile("COM7:", KZ_GENERIC_READ | KZ_GENERIC_WRITE, 0, KZ_OPEN_EXISTING, 0), KZ_INVALID_HANDLE);
    }
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_FILE_NOT_FOUND);
    unsetenv("KZ_TARN_COM7");
}

}  // namespace
