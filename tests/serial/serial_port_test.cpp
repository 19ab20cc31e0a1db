// The system serial port against a pseudo-terminal: the test holds the master
// side and sees what the port set up and sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "quenlo/platform.h"
#include "serial_baud.h"

namespace quenlo {
namespace {

class PtyPort : public testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        path_ = ptsname(master_);
        // A second holder of the slave, as the board simulator keeps one.
        holder_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(holder_, 0);
    }
    void TearDown() override {
        if (holder_ >= 0) close(holder_);
        if (master_ >= 0) close(master_);
    }

    std::vector<uint8_t> ReadMaster(size_t n) {
        std::vector<uint8_t> got;
        while (got.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            uint8_t buf[256];
            ssize_t r = read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
    void WriteMaster(std::vector<uint8_t> bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master_ = -1;
    int holder_ = -1;
    std::string path_;
};

TEST_F(PtyPort, OpensAtEachBoardSpeedAs8E1RawWithoutFlowControl) {
    auto port = MakeSystemSerialPort();
    for (uint32_t baud : {115200u, 625000u, 1250000u}) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(port->Open(path_, baud), SerialError::None);
        EXPECT_TRUE(port->IsOpen());
        // Terminal requests on the master answer for the slave.
        EXPECT_EQ(tty::GetBaud(master_), baud);
        termios t{};
        ASSERT_EQ(tcgetattr(master_, &t), 0);
        // A pty forces CS8 and drops PARENB itself, so only odd parity shows.
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_FALSE(t.c_cflag & PARODD);
        EXPECT_FALSE(t.c_cflag & CSTOPB);
        EXPECT_FALSE(t.c_cflag & CRTSCTS);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL));
        EXPECT_FALSE(t.c_oflag & OPOST);
        port->Close();
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST_F(PtyPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
    auto first = MakeSystemSerialPort();
    auto second = MakeSystemSerialPort();
    ASSERT_EQ(first->Open(path_, 115200), SerialError::None);
    LogCapture log;
    EXPECT_EQ(second->Open(path_, 115200), SerialError::Open);
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(log.err(), "serial port " + path_ + ": busy: another program has it open\n");
    // The refused opener must not have lifted the owner's exclusivity.
    EXPECT_EQ(second->Open(path_, 115200), SerialError::Open);
    first->Close();
    // Another process still holds the slave, so the exclusive flag must have
    // been cleared by Close, not by the last close of the terminal.
    EXPECT_EQ(second->Open(path_, 625000), SerialError::None);
    EXPECT_EQ(tty::GetBaud(master_), 625000u);
}

TEST_F(PtyPort, MovesBytesBothWaysAndTimesOutOnSilence) {
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path_, 1250000), SerialError::None);
    const uint8_t check[] = {0x03, 0xFE, 0x01};
    EXPECT_EQ(port->Write(check, sizeof check, 1000), 3);
    EXPECT_EQ(ReadMaster(3), std::vector<uint8_t>(check, check + 3));

    // Bytes that carry line-discipline meaning in cooked mode arrive unchanged.
    WriteMaster({0x04, 0xFE, 0x06, 0x0D, 0x11, 0x13, 0x7F, 0x0A});
    std::vector<uint8_t> got;
    uint8_t b = 0;
    while (got.size() < 8 && port->ReadByte(b, 1000) == 1) got.push_back(b);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x04, 0xFE, 0x06, 0x0D, 0x11, 0x13, 0x7F, 0x0A}));
    EXPECT_EQ(port->ReadByte(b, 20), 0);
    EXPECT_EQ(port->ReadByte(b, 0), 0);
}

TEST_F(PtyPort, StaleInputIsDiscardedAtOpenAndOnRequest) {
    WriteMaster({0x04, 0x10, 0x06, 0x1A});
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path_, 115200), SerialError::None);
    uint8_t b = 0;
    EXPECT_EQ(port->ReadByte(b, 20), 0);
    // A late reply, dropped before the next command goes out.
    WriteMaster({0x04, 0xFE, 0x06, 0x08});
    port->DiscardInput();
    EXPECT_EQ(port->ReadByte(b, 20), 0);
    WriteMaster({0x05});
    EXPECT_EQ(port->ReadByte(b, 1000), 1);
    EXPECT_EQ(b, 0x05);
}

TEST_F(PtyPort, CloseRestoresTheSettingsFoundAtOpen) {
    // A terminal as a shell leaves it: cooked, echoing, 9600 baud.
    termios before{};
    ASSERT_EQ(tcgetattr(master_, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(master_, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(master_, &before), 0);
    auto port = MakeSystemSerialPort();
    for (uint32_t baud : {625000u, 0u}) {  // a session, and an open that fails late
        SCOPED_TRACE(baud);
        port->Open(path_, baud);
        port->Close();
        termios after{};
        ASSERT_EQ(tcgetattr(master_, &after), 0);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(tty::GetBaud(master_), 9600u);
    }
}

TEST_F(PtyPort, WriteToAFullLineStopsAtTheDeadlineWithAPartialCount) {
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path_, 115200), SerialError::None);
    // Nobody reads the master, so the pty's buffers fill up.
    std::vector<uint8_t> big(1 << 20, 0x55);
    long n = port->Write(big.data(), big.size(), 50);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<long>(big.size()));
}

TEST_F(PtyPort, HangUpIsAnErrorNotATimeOut) {
    auto port = MakeSystemSerialPort();
    EXPECT_FALSE(port->IsAlive());
    ASSERT_EQ(port->Open(path_, 115200), SerialError::None);
    // The liveness check neither reads nor sends: the waiting byte stays.
    WriteMaster({0x42});
    EXPECT_TRUE(port->IsAlive());
    uint8_t b = 0;
    ASSERT_EQ(port->ReadByte(b, 1000), 1);
    EXPECT_EQ(b, 0x42);
    close(master_);
    master_ = -1;
    EXPECT_FALSE(port->IsAlive());
    EXPECT_EQ(port->ReadByte(b, 1000), -1);
    const uint8_t check[] = {0x03, 0xFE, 0x01};
    EXPECT_EQ(port->Write(check, sizeof check, 100), -1);
}

TEST(SerialPort, FailuresNameTheStepAndLeaveThePortClosed) {
    auto port = MakeSystemSerialPort();
    LogCapture log;
    EXPECT_EQ(port->Open("/nonexistent/ttyUSB9", 115200), SerialError::Open);
    EXPECT_FALSE(port->IsOpen());
    // Not a terminal: its settings cannot be read.
    EXPECT_EQ(port->Open("/dev/null", 115200), SerialError::GetState);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->Open("/", 115200), SerialError::Open);
    // The device and the system's reason, one line each.
    EXPECT_EQ(log.err(),
              "serial port /nonexistent/ttyUSB9: no such device\n"
              "serial port /dev/null: not a serial device\n"
              "serial port /: Is a directory\n");

    uint8_t b = 0;
    const uint8_t check[] = {0x03, 0xFE, 0x01};
    EXPECT_EQ(port->Write(check, 3, 100), -1);
    EXPECT_EQ(port->ReadByte(b, 10), -1);
    port->Close();  // closing a closed port is harmless
}

TEST_F(PtyPort, ZeroBaudCannotBeExpressed) {
    auto port = MakeSystemSerialPort();
    EXPECT_EQ(port->Open(path_, 0), SerialError::BuildState);
    EXPECT_FALSE(port->IsOpen());
    // The failed attempt released the port.
    EXPECT_EQ(port->Open(path_, 115200), SerialError::None);
}

TEST(SerialPort, DevicePathPutsBareNamesUnderDev) {
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(SerialDevicePath("./board"), "./board");
    // The port list's names are opened there.
    for (const SerialDevice& d : ListSerialDevices()) {
        const size_t open = d.friendly_name.rfind(" (");
        ASSERT_NE(open, std::string::npos) << d.friendly_name;
        const std::string name =
            d.friendly_name.substr(open + 2, d.friendly_name.size() - open - 3);
        EXPECT_EQ(access(SerialDevicePath(name).c_str(), F_OK), 0) << d.friendly_name;
    }
}

}  // namespace
}  // namespace quenlo
