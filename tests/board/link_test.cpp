// The serial link: framing, hex dumps, replies, port set-up and the image on connect.
#include <gtest/gtest.h>

#include <stop_token>

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

TEST(MemoryRead, RequestAndEveryKindOfReplyByteForByte) {
    using board_test::kLineError;
    using board_test::kTimeout;
    namespace fr = quenlo::sim::test;
    const Bytes request = {0x0B, 0x00, 0x23, 0x00, 0x00, 0x00, 0x80, 0x0B, 0x00, 0x04, 0xBD};
    const std::vector<int> good = {0x07, 0x00, 0x11, 0x22, 0x33, 0x44, 0xB1};
    const struct {
        const char* what;
        std::vector<int> reply;
        const char* err;  // empty: the read succeeds with 11 22 33 44
    } cases[] = {
        {"good", good, ""},
        {"silent", {}, "No complete reply to the memory read at $000B80 (0 of 7 bytes).\n"},
        {"short",
         {0x07, 0x00, 0x11, kTimeout, kTimeout},
         "No complete reply to the memory read at $000B80 (3 of 7 bytes).\n"},
        {"late byte within one retry", {0x07, 0x00, 0x11, kTimeout, 0x22, 0x33, 0x44, 0xB1}, ""},
        {"line drops",
         {0x07, 0x00, 0x11, kLineError},
         "The line failed during the memory read at $000B80.\n"},
        {"nack",
         {0x04, 0x00, 0x15, 0x19},
         "The board refused the memory read at $000B80 (NACK).\n"},
        {"too short",
         {0x06, 0x00, 0x11, 0x22, 0x33, 0x6C},
         "The reply to the memory read at $000B80 announces 6 bytes, not 7.\n"},
        {"too long",
         {0x08, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x07},
         "The reply to the memory read at $000B80 announces 8 bytes, not 7.\n"},
        {"length zero",
         {0x00},
         "The reply to the memory read at $000B80 announces 0 bytes, not 7.\n"},
        {"second byte",
         {0x07, 0x01, 0x11, 0x22, 0x33, 0x44, 0xB2},
         "The reply to the memory read at $000B80 has $01 as its second byte, not $00.\n"},
        {"checksum",
         {0x07, 0x00, 0x11, 0x22, 0x33, 0x44, 0xB0},
         "The reply to the memory read at $000B80 has checksum $B0, not $B1.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.port->reply_script.push_back(c.reply);
        LogCapture log;
        Bytes data(4, 0xEE);
        EXPECT_EQ(rig.link->ReadRom(0x0B80, data.data(), 4), *c.err == '\0');
        EXPECT_EQ(rig.port->writes, std::vector<Bytes>{request});
        EXPECT_EQ(log.err(), c.err);
        // Exactly the announced reply is taken: nothing is left for the next command.
        EXPECT_TRUE(rig.port->reads.empty() || c.reply.back() == kTimeout);
        if (!*c.err) {
            EXPECT_EQ(data, (Bytes{0x11, 0x22, 0x33, 0x44}));
            EXPECT_EQ(log.out(),
                      ">> 0B 00 23 00 00 00 80 0B 00 04 BD\r\n<< 07 00 11 22 33 44 B1\r\n");
        }
    }
    // RAM reads differ in the sub-type only.
    Rig rig;
    rig.port->reply_script.push_back({0x05, 0x00, 0x01, 0x80, 0x86});
    uint8_t word[2] = {};
    LogCapture log;
    ASSERT_TRUE(rig.link->ReadRam(0x0000, word, 2));
    EXPECT_EQ(rig.port->writes.at(0), fr::Read(0x20, 0x0000, 2));
    EXPECT_EQ(word[0] | word[1] << 8, 0x8001);
}

TEST(MemoryRead, LongReadsGoOutInPiecesAndNeverAskForOneByte) {
    Rig rig;
    LogCapture log;
    Bytes rom(600);
    for (size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<uint8_t>(i * 7);
    for (size_t at = 0; at < rom.size(); at += 200)
        ASSERT_TRUE(rig.link->WriteRom(static_cast<uint32_t>(at), rom.data() + at, 200));
    const struct {
        uint32_t address;
        int n;
        std::vector<std::pair<uint32_t, int>> requests;
    } cases[] = {
        {0x0000, 300, {{0x0000, 128}, {0x0080, 128}, {0x0100, 44}}},
        {0x0010, 129, {{0x0010, 127}, {0x008F, 2}}},
        {0x0005, 1, {{0x0005, 2}}},
        {0xFFFFFF, 1, {{0xFFFFFE, 2}}},  // the last address: one earlier
        {0x0000, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const size_t before = rig.port->writes.size();  // the port answers from the ROM writes
        Bytes data(static_cast<size_t>(c.n));
        ASSERT_TRUE(rig.link->ReadRom(c.address, data.data(), c.n));
        std::vector<std::pair<uint32_t, int>> requests;
        for (size_t i = before; i < rig.port->writes.size(); ++i) {
            const Bytes& w = rig.port->writes[i];
            requests.push_back({w[6] | w[7] << 8 | w[8] << 16, w[9]});
        }
        EXPECT_EQ(requests, c.requests);
        if (c.address < rom.size()) {
            EXPECT_EQ(data, Bytes(rom.begin() + c.address, rom.begin() + c.address + c.n));
        }
    }
    // Beyond 24 bits nothing is sent.
    const size_t before = rig.port->writes.size();
    Bytes two(2);
    EXPECT_FALSE(rig.link->ReadRom(0xFFFFFF, two.data(), 2));
    EXPECT_FALSE(rig.link->ReadRom(0x1000000, two.data(), 0));
    EXPECT_EQ(rig.port->writes.size(), before);
    EXPECT_EQ(log.err(),
              "The memory read at $FFFFFF of 2 bytes is outside the board's addresses.\n"
              "The memory read at $1000000 of 0 bytes is outside the board's addresses.\n");
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
    quenlo::board::FramePacer(*rig.link).WaitFrames(4, 1000 - 30);
    EXPECT_EQ(log.out(), " wait loss 30ms\r\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{70}));

    log.clear();
    rig.link->set_system_register(0x0010);  // 15 ms: 2 frames already over
    quenlo::board::FramePacer(*rig.link).WaitFrames(2, rig.clock.NowMs() - 31);
    EXPECT_EQ(log.out(), " wait loss 31ms\r\n");
    EXPECT_EQ(rig.clock.slept().size(), 1u);

    log.clear();
    quenlo::board::FramePacer(*rig.link).WaitFrames(0, 0);
    EXPECT_EQ(log.out(), "");

    // The clock wraps like a 32-bit millisecond counter.
    rig.link->set_system_register(0x0000);
    const uint32_t start = 0u - 12;  // 12 ms before the clock reads 0
    rig.clock.Advance(0u - rig.clock.NowMs() + 20);
    quenlo::board::FramePacer(*rig.link).WaitFrames(5, start);
    EXPECT_EQ(log.out(), " wait loss 32ms\r\n");
    EXPECT_EQ(rig.clock.slept().back(), 18u);
}

}  // namespace

namespace {

const uint8_t kAck[3] = {0x03, 0xFE, 0x01};

// A job's stop request: every wait of the link is cut into steps of at most
// 100 ms that look at it, and once it is raised the waits end at once while
// frames still go out, so a release can be sent without awaiting its answer.
TEST(StopToken, WaitsLookAtTheStopRequestAndEndAtOnceWhenItIsRaised) {
    Rig rig;
    std::stop_source stop;
    rig.link->SetStopToken(stop.get_token());
    EXPECT_TRUE(rig.link->SleepMs(250));
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{100, 100, 50}));
    rig.link->SleepUntilUs(rig.clock.NowUs() + 150000);
    EXPECT_EQ(rig.clock.deadlines().size(), 2u);
    rig.port->auto_ack = false;  // silent: each read waits its time-out
    EXPECT_FALSE(rig.link->Transfer(kAck, 3));
    EXPECT_EQ(rig.port->last_timeout, 100);

    stop.request_stop();
    const size_t slept = rig.clock.slept().size();
    EXPECT_FALSE(rig.link->SleepMs(500));
    quenlo::board::FramePacer(*rig.link).WaitFrames(100, rig.clock.NowMs());
    EXPECT_EQ(rig.clock.slept().size(), slept);
    rig.port->auto_ack = true;
    const size_t written = rig.port->writes.size();
    quenlo::board::FreeServos(*rig.link);
    EXPECT_EQ(rig.port->writes.size(), written + 2);  // the release still goes out
    EXPECT_EQ(rig.clock.slept().size(), slept);

    // Without a token the link waits as it always did, in one piece.
    Rig plain;
    plain.port->auto_ack = false;
    EXPECT_FALSE(plain.link->Transfer(kAck, 3));
    EXPECT_EQ(plain.port->last_timeout, 1000);
}

// Within a session a command that got no reply in either wait means the board
// is silent: the rest of the set-up is not sent. Outside one, every step is.
TEST(Session, ACommandWithoutAnyReplyEndsTheSessionAtOnce) {
    Rig rig;
    rig.port->auto_ack = false;
    rig.link->BeginSession();
    const int32_t motors[2] = {0, 100};
    EXPECT_FALSE(quenlo::board::InitRam(*rig.link, nullptr, 2, motors));
    EXPECT_TRUE(rig.link->board_silent());
    EXPECT_EQ(rig.port->writes.size(), 1u);
    EXPECT_FALSE(rig.link->Transfer(kAck, 3));  // nothing more goes out
    EXPECT_EQ(rig.port->writes.size(), 1u);

    // A reply that comes in the second wait, or a refusal, is an answer.
    Rig slow;
    slow.link->BeginSession();
    slow.port->auto_ack = false;
    slow.port->reply_script = {{board_test::kTimeout, 0x04, 0xFE, 0x06, 0x08}};
    EXPECT_TRUE(slow.link->Transfer(kAck, 3));
    slow.port->nack_at = 2;
    EXPECT_FALSE(slow.link->Transfer(kAck, 3));
    EXPECT_FALSE(slow.link->board_silent());

    // A new session, or a new opening, starts with the board answering.
    rig.link->BeginSession();
    EXPECT_FALSE(rig.link->board_silent());
}

}  // namespace
