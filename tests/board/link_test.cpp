// The serial link: framing, hex dumps, replies, port set-up and the image on connect.
#include <gtest/gtest.h>

#include "scripted_port.h"

using board_test::Rig;
using board_test::ScriptedPort;
using quenlo::LogCapture;
using quenlo::SerialError;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Transfer, RamWriteFrameAndAcknowledgedReplyAreLogged) {
    Rig rig;
    LogCapture log;
    const uint8_t data[2] = {0x01, 0x00};
    ASSERT_TRUE(rig.link->WriteRam(0x0000, data, 2));
    ASSERT_EQ(rig.port->writes.size(), 1u);
    EXPECT_EQ(rig.port->writes[0], (Bytes{0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0C}));
    EXPECT_EQ(log.out(), ">> 09 00 02 00 00 00 01 00 0C\r\n<< 04 FE 06 08\r\n");
    EXPECT_EQ(log.err(), "");
    EXPECT_EQ(rig.port->last_timeout, 1000);
}

TEST(Transfer, HexDumpBreaksAfterEverySixteenthByteButTheLast) {
    const std::string row0 = ">> 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n";
    const std::string row1 = "   10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\r\n";
    for (auto [n, dump] :
         {std::pair{16, row0}, {17, row0 + "   10\r\n"}, {33, row0 + row1 + "   20\r\n"}}) {
        Rig rig;
        LogCapture log;
        Bytes bytes;
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i));
        ASSERT_TRUE(rig.link->Transfer(bytes.data(), n));
        EXPECT_EQ(log.out(), dump + "<< 04 FE 06 08\r\n") << n;
    }
}

TEST(Transfer, ReplyDumpLengthFollowsItsFirstByte) {
    Rig rig;
    rig.port->reply_script.push_back({0x06, 0xFE, 0x06, 0x0A});
    LogCapture log;
    const uint8_t ack[3] = {0x03, 0xFE, 0x01};
    ASSERT_TRUE(rig.link->Transfer(ack, 3));
    // Six bytes shown: the four read and two of the zeroed buffer.
    EXPECT_EQ(log.out(), ">> 03 FE 01\r\n<< 06 FE 06 0A 00 00\r\n");
}

TEST(Transfer, ShortOrFailedWriteIsATransmissionError) {
    Rig rig;
    rig.port->short_write = true;
    LogCapture log;
    const uint8_t ack[3] = {0x03, 0xFE, 0x01};
    EXPECT_FALSE(rig.link->Transfer(ack, 3));
    EXPECT_EQ(log.err(), "The data transmission is abnormal.\n");
    rig.port->short_write = false;
    rig.link->ClosePort();
    log.clear();
    EXPECT_FALSE(rig.link->Transfer(ack, 3));
    EXPECT_EQ(log.err(), "The data transmission is abnormal.\n");
    EXPECT_EQ(rig.port->writes.size(), 1u);  // nothing sent on a closed port
}

TEST(Transfer, OversizedMemoryWriteIsRefusedBeforeSending) {
    Rig rig;
    LogCapture log;
    const Bytes data(249, 0);
    EXPECT_FALSE(rig.link->WriteRom(0, data.data(), 249));
    EXPECT_TRUE(rig.port->writes.empty());
    EXPECT_NE(log.err(), "");
    EXPECT_TRUE(rig.link->WriteRom(0, data.data(), 248));
    EXPECT_EQ(rig.port->writes[0][0], 255);
}

TEST(OpenPort, OpensTheDevicePathAtTheSpeedOfTheImage) {
    Rig rig;
    rig.port->open = false;
    LogCapture log;
    const uint32_t expected[4] = {115200, 625000, 1250000, 115200};
    for (int index = 0; index < 4; ++index) {
        rig.link->set_system_register(static_cast<uint16_t>(0x1234 & ~0xC0) | index << 6);
        ASSERT_EQ(rig.link->OpenPort("ttyUSB0"), 0);
        EXPECT_EQ(rig.port->opens.back().path, "/dev/ttyUSB0");
        EXPECT_EQ(rig.port->opens.back().baud, expected[index]);
    }
    EXPECT_EQ(log.out(),
              "open port ttyUSB0.\nopen port ttyUSB0.\nopen port ttyUSB0.\nopen port ttyUSB0.\n");
    EXPECT_EQ(rig.port->closes, 3);  // reopening closes the previous device first
    rig.link->ClosePort();
    EXPECT_FALSE(rig.link->IsOpen());
}

TEST(OpenPort, EachFailureHasItsLineAndLeavesThePortClosed) {
    const struct {
        SerialError error;
        const char* text;
    } cases[] = {
        {SerialError::Open, "Port could not open. COM9\n"},
        {SerialError::GetState, "cannot GetCommState\n"},
        {SerialError::BuildState, "cannot BuildCommDCB\n"},
        {SerialError::SetState, "SetCommState failed.\n"},
        {SerialError::SetTimeouts, "SetCommTimeouts failed.\n"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.port->open = false;
        rig.port->open_error = c.error;
        LogCapture log;
        EXPECT_EQ(rig.link->OpenPort("COM9"), -1);
        EXPECT_EQ(log.out(), "open port COM9.\n");
        EXPECT_EQ(log.err(), c.text);
        EXPECT_FALSE(rig.link->IsOpen());
    }
    Rig rig;
    LogCapture log;
    EXPECT_EQ(rig.link->OpenPort(nullptr), -1);
    EXPECT_EQ(log.err(), "There is not doing about COM.\n");
    EXPECT_EQ(log.out(), "");
}

TEST(Connect, KeepsTheImageAndStopsWhenThePortWillNotOpen) {
    Rig rig;
    rig.port->open = false;
    rig.link->set_system_register(0x0031);  // frame period and servo output bits survive
    EXPECT_EQ(rig.link->Connect("ttyUSB0"), 0);
    EXPECT_EQ(rig.port->writes.back(), (Bytes{0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x31, 0x00,
                                              static_cast<uint8_t>(0x0B + 0x31)}));

    rig.port->open_error = SerialError::Open;
    LogCapture log;
    EXPECT_EQ(rig.link->Connect("ttyUSB0"), -1);
    EXPECT_EQ(log.err(), "Port could not open. ttyUSB0\n");
    EXPECT_EQ(rig.link->system_register(), 0x0031);
}

TEST(WaitFrames, SleepsTheRestOfTheFramesAtThePeriodOfTheImage) {
    Rig rig;
    LogCapture log;
    rig.link->set_system_register(0x0030);  // 25 ms frames
    rig.clock.Advance(1000);
    rig.link->WaitFrames(4, 1000 - 30);
    EXPECT_EQ(log.out(), " wait loss 30ms\r\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{70}));

    log.clear();
    rig.link->set_system_register(0x0010);  // 15 ms: 2 frames already over
    rig.link->WaitFrames(2, rig.clock.NowMs() - 31);
    EXPECT_EQ(log.out(), " wait loss 31ms\r\n");
    EXPECT_EQ(rig.clock.slept().size(), 1u);

    log.clear();
    rig.link->WaitFrames(0, 0);
    EXPECT_EQ(log.out(), "");

    // The clock wraps like a 32-bit millisecond counter.
    rig.link->set_system_register(0x0000);
    const uint32_t start = 0u - 12;  // 12 ms before the clock reads 0
    rig.clock.Advance(0u - rig.clock.NowMs() + 20);
    rig.link->WaitFrames(5, start);
    EXPECT_EQ(log.out(), " wait loss 32ms\r\n");
    EXPECT_EQ(rig.clock.slept().back(), 18u);
}

}  // namespace
