// The simulated board's framing, memory, faults, speed match and trace, seen
// through its byte interface and through the in-process serial port.
#include "board_sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frames.h"

namespace quenlo::sim {
namespace {

using test::Ack;
using test::Bytes;
using test::Cat;
using test::Frame;
using test::Nack;

const Bytes kCheck = {0x03, 0xFE, 0x01};

// A board at 115200 with a settable clock, fed directly.
class Board : public testing::Test {
  protected:
    void SetUp() override { Make({}); }
    void Make(Options options) {
        board_ = std::make_unique<BoardSim>(options);
        board_->SetTimeSource([this] { return now_us_; });
        board_->SetTrace([this](std::string_view line) { trace_.emplace_back(line); });
        board_->SetPeerBaud(board_->baud());
    }
    Bytes Send(const Bytes& bytes) {
        Bytes reply;
        board_->Feed(bytes.data(), bytes.size(), reply);
        return reply;
    }

    std::unique_ptr<BoardSim> board_;
    uint64_t now_us_ = 1000;
    std::vector<std::string> trace_;
};

TEST_F(Board, FindsEveryFrameHoweverTheBytesArrive) {
    EXPECT_EQ(Send({0x03}), Bytes{});
    EXPECT_EQ(Send({0xFE}), Bytes{});
    EXPECT_EQ(Send({0x01}), Ack(0xFE));

    // Two frames in one chunk are answered in order; commands the board
    // model does not act on are still acknowledged.
    EXPECT_EQ(Send(Cat({Frame({0x20, 0x01}), kCheck})), Cat({Ack(0x20), Ack(0xFE)}));
    ASSERT_EQ(board_->frames().size(), 3u);
    EXPECT_EQ(board_->frames()[1].bytes, Frame({0x20, 0x01}));

    // Length bytes below three are skipped one at a time.
    EXPECT_EQ(Send({0x00, 0x01, 0x02, 0x03, 0xFE, 0x01}), Ack(0xFE));
    // A frame that stalls is abandoned.
    EXPECT_EQ(Send({0x09, 0x00, 0x02}), Bytes{});
    now_us_ += 200'000;
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
    EXPECT_EQ(board_->frame_count(), 5u);
}

TEST_F(Board, BadChecksumIsIgnoredOrRefusedAndTheNextFrameStillParses) {
    const Bytes bad_ram_write = {0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0D};
    EXPECT_EQ(Send(bad_ram_write), Bytes{});
    EXPECT_EQ(board_->RamWord(0), 0);
    EXPECT_FALSE(board_->frames().back().sum_ok);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));

    Options o;
    o.nack_bad_sum = true;
    Make(o);
    EXPECT_EQ(Send(bad_ram_write), Nack(0x00));
    EXPECT_EQ(board_->RamWord(0), 0);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
}

TEST_F(Board, RamAndRomWritesLandWhereAddressed) {
    // The two bytes 01 00 to RAM address 0.
    const Bytes ram = {0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0C};
    EXPECT_EQ(Send(ram), Ack(0x00));
    EXPECT_EQ(board_->RamWord(0), 1);
    EXPECT_EQ(Send(test::RamWrite(0x0044, Bytes(72, 0xFF))), Ack(0x00));
    EXPECT_EQ(board_->RamWord(0x0044 + 70), 0xFFFF);

    EXPECT_EQ(Send(test::RomWrite(0x0000, {0x11, 0x22})), Ack(0x00));
    EXPECT_EQ(Send(test::RomWrite(0x0005, {0xFF, 0x33})), Ack(0x00));
    // Unwritten gaps read as erased; a written 0xFF counts as written.
    EXPECT_EQ(board_->RomImage(), (Bytes{0x11, 0x22, 0xFF, 0xFF, 0xFF, 0xFF, 0x33}));
    EXPECT_TRUE(board_->RomWritten(5));
    EXPECT_FALSE(board_->RomWritten(2));

    // A motion slot far up in ROM, then copied into RAM by command.
    EXPECT_EQ(Send(test::RomWrite(0x0B80 + 0x1000 * 31, {0xAB, 0xCD})), Ack(0x00));
    EXPECT_EQ(board_->RomImage().size(), 0x0B80u + 0x1000 * 31 + 2);
    EXPECT_EQ(Send(test::Copy(0x0100, 0x0B80 + 0x1000 * 31, 2)), Ack(0x00));
    EXPECT_EQ(board_->RamWord(0x0100), 0xCDAB);
}

TEST_F(Board, WritesOutsideMemoryAreRefusedAndChangeNothing) {
    EXPECT_EQ(Send(test::RamWrite(kRamSize - 1, {1, 2})), Nack(0x00));
    EXPECT_EQ(board_->ram()[kRamSize - 1], 0);
    EXPECT_EQ(Send(test::RomWrite(kRomSize - 1, {1, 2})), Nack(0x00));
    EXPECT_TRUE(board_->RomImage().empty());
    EXPECT_EQ(Send(test::Copy(kRamSize - 1, 0, 2)), Nack(0x00));
    EXPECT_NE(trace_.back().find("refused"), std::string::npos);
}

TEST_F(Board, ReadsAnswerFromMemoryAndRefuseWhatTheyCannotServe) {
    Send(test::RomWrite(0x0010, {0x01, 0x02, 0x03}));
    Send(test::RamWrite(0x0044, {0xAA, 0xBB}));
    // Never-written ROM reads as erased.
    EXPECT_EQ(Send(test::Read(0x23, 0x000F, 5)), test::ReadReply({0xFF, 0x01, 0x02, 0x03, 0xFF}));
    EXPECT_EQ(Send(test::Read(0x20, 0x0044, 2)), test::ReadReply({0xAA, 0xBB}));
    EXPECT_EQ(Send(test::Read(0x23, kRomSize - 248, 248)), test::ReadReply(Bytes(248, 0xFF)));

    const Bytes refused[] = {
        test::Read(0x23, 0, 0),                                      // nothing asked
        test::Read(0x23, 0, 249),                                    // more than a reply holds
        test::Read(0x23, kRomSize - 1, 2),                           // beyond the ROM
        test::Read(0x20, kRamSize - 1, 2),                           // beyond the RAM
        Frame({0x00, 0x23, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 4}),  // destination not the line
        Frame({0x00, 0x23, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}),     // one byte short
    };
    for (const Bytes& read : refused) EXPECT_EQ(Send(read), Nack(0x00)) << trace_.back();
}

TEST_F(Board, FailingCellStoresItsByteInvertedAndNoReadBoardStaysSilent) {
    Options o;
    o.corrupt_rom_at = 0x0011;
    Make(o);
    EXPECT_EQ(Send(test::RomWrite(0x0010, {0x01, 0x02, 0x03})), Ack(0x00));
    EXPECT_EQ(Send(test::Read(0x23, 0x0010, 3)), test::ReadReply({0x01, 0xFD, 0x03}));
    EXPECT_EQ(board_->RomImage(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0xFD, 0x03}));

    o = {};
    o.no_read = true;
    Make(o);
    EXPECT_EQ(Send(test::Read(0x23, 0, 4)), Bytes{});
    EXPECT_NE(trace_.back().find("read not answered, no reply"), std::string::npos);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
}

TEST_F(Board, RebootIsAcknowledgedCountedAndClearsRam) {
    Send(test::RamWord(0x003A, 0x0300));
    EXPECT_EQ(Send(test::Reboot()), Ack(0x00));
    EXPECT_EQ(board_->reboot_count(), 1);
    EXPECT_EQ(board_->RamWord(0x003A), 0);
    // The same bytes elsewhere are an ordinary write.
    Send(test::RamWrite(0x0100, {0x03, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(board_->reboot_count(), 1);
}

TEST_F(Board, ServoCommandsAreRecordedWithTheirReceiveTime) {
    Bytes move = test::Move({0, 1}, 10, {7500, 7500});
    Send(kCheck);
    now_us_ = 250'000;
    EXPECT_EQ(Send(move), Ack(0x10));
    ASSERT_EQ(board_->servo_commands().size(), 1u);
    EXPECT_EQ(board_->servo_commands()[0].bytes, move);
    EXPECT_EQ(board_->servo_commands()[0].t_us, 250'000u);
}

TEST_F(Board, FaultsCountFramesFromOne) {
    Options o;
    o.silent_after = 2;
    Make(o);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
    EXPECT_EQ(Send(kCheck), Bytes{});
    // A silent board still hears: the write happened, the answer was lost.
    EXPECT_EQ(Send(test::RamWord(0x0002, 7)), Bytes{});
    EXPECT_EQ(board_->RamWord(0x0002), 7);

    o = {};
    o.partial_reply_at = 2;
    Make(o);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
    EXPECT_EQ(Send(kCheck), (Bytes{0x04, 0xFE, 0x06}));
    EXPECT_EQ(Send(kCheck), Bytes{});

    o = {};
    o.nack_at = 2;
    Make(o);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
    EXPECT_EQ(Send(test::RamWord(0x0002, 7)), Nack(0x00));
    EXPECT_EQ(board_->RamWord(0x0002), 0);
    EXPECT_EQ(Send(kCheck), Ack(0xFE));

    o = {};
    o.hangup_after = 1;
    Make(o);
    EXPECT_EQ(Send(Cat({kCheck, kCheck})), Ack(0xFE));
    EXPECT_TRUE(board_->hung_up());
    EXPECT_EQ(board_->frame_count(), 1u);

    o.hangup_after = 0;
    Make(o);
    EXPECT_EQ(Send(kCheck), Bytes{});
    EXPECT_EQ(board_->frame_count(), 0u);
}

TEST_F(Board, HearsOnlyAtItsOwnSpeed) {
    // Every index against every speed: the link's speed search and quenlo-sim's test.
    Options o;
    o.speed_index = 1;
    Make(o);
    for (auto [baud, reply] :
         {std::pair{115200u, Bytes{}}, {625000u, Ack(0xFE)}, {1250000u, Bytes{}}}) {
        board_->SetPeerBaud(baud);
        EXPECT_EQ(Send(kCheck), reply) << baud;
    }
    EXPECT_EQ(board_->frame_count(), 1u);  // noise is no frame
    EXPECT_EQ(SpeedIndexBaud(4), 0u);
    // A line that changes speed mid-frame loses the partial frame.
    Make({});
    Send({0x03, 0xFE});
    board_->SetPeerBaud(625000);
    board_->SetPeerBaud(115200);
    EXPECT_EQ(Send({0x01}), Bytes{});
    EXPECT_EQ(Send(kCheck), Ack(0xFE));
}

TEST_F(Board, TraceHasOneJsonLinePerFrame) {
    now_us_ = 5000;
    Send(kCheck);
    Send({0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0C});
    Send({0x01});
    board_->SetPeerBaud(625000);
    Send(kCheck);
    ASSERT_EQ(trace_.size(), 4u);
    EXPECT_EQ(trace_[0], R"({"t_us": 5000, "rx": "03 FE 01", "action": "acknowledge check, ack"})");
    EXPECT_EQ(
        trace_[1],
        R"({"t_us": 5000, "rx": "09 00 02 00 00 00 01 00 0C", "action": "ram write $0000+2, ack"})");
    EXPECT_EQ(trace_[2], R"({"t_us": 5000, "rx": "01", "action": "dropped: length below 3"})");
    EXPECT_EQ(
        trace_[3],
        R"({"t_us": 5000, "rx": "03 FE 01", "action": "dropped: line at 625000 baud, board at 115200"})");
}

// ---- the in-process serial port ---------------------------------------------

TEST(SimPort, RepliesArriveAfterTheDelayOnTheInjectedClock) {
    Options o;
    o.reply_delay_ms = 30;
    BoardSim board(o);
    ManualClock clock(100);
    SimSerialPort port(board, &clock);
    ASSERT_EQ(port.Open("sim", 115200), SerialError::None);
    EXPECT_EQ(port.Write(kCheck.data(), kCheck.size(), 1000), 3);
    uint8_t b = 0;
    EXPECT_EQ(port.ReadByte(b, 10), 0);
    EXPECT_EQ(clock.NowMs(), 110u);
    EXPECT_EQ(port.ReadByte(b, 1000), 1);
    EXPECT_EQ(b, 0x04);
    EXPECT_EQ(clock.NowMs(), 130u);
    Bytes rest;
    while (port.ReadByte(b, 0) == 1) rest.push_back(b);
    EXPECT_EQ(rest, (Bytes{0xFE, 0x06, 0x08}));
    // Nothing waiting: the whole time-out passes, at once.
    EXPECT_EQ(port.ReadByte(b, 1000), 0);
    EXPECT_EQ(clock.NowMs(), 1130u);
    EXPECT_EQ(board.frames()[0].t_us, 100'000u);
}

// The line speed set by Open is proven by the link's speed search.
TEST(SimPort, CloseForgetsPendingBytesAndAFailedOpenLeavesItClosed) {
    Options o;
    o.speed_index = 1;
    BoardSim board(o);
    SimSerialPort port(board);
    uint8_t b = 0;
    ASSERT_EQ(port.Open("ttyUSB0", 625000), SerialError::None);
    port.Write(kCheck.data(), 3, 1000);
    port.Close();
    EXPECT_EQ(port.ReadByte(b, 10), -1);
    EXPECT_EQ(port.Write(kCheck.data(), 3, 1000), -1);
    ASSERT_EQ(port.Open("ttyUSB0", 625000), SerialError::None);
    EXPECT_EQ(port.ReadByte(b, 10), 0);

    port.FailNextOpen(SerialError::SetState);
    EXPECT_EQ(port.Open("ttyUSB0", 625000), SerialError::SetState);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open("ttyUSB0", 625000), SerialError::None);
}

TEST(SimPort, HangUpDeliversTheLastReplyThenFails) {
    Options o;
    o.hangup_after = 1;
    BoardSim board(o);
    SimSerialPort port(board);
    ASSERT_EQ(port.Open("sim", 115200), SerialError::None);
    EXPECT_EQ(port.Write(kCheck.data(), 3, 1000), 3);
    Bytes got;
    uint8_t b = 0;
    int r;
    while ((r = port.ReadByte(b, 100)) == 1) got.push_back(b);
    EXPECT_EQ(got, Ack(0xFE));
    EXPECT_EQ(r, -1);
    EXPECT_EQ(port.Write(kCheck.data(), 3, 1000), -1);
    EXPECT_EQ(port.Open("sim", 115200), SerialError::Open);
}

}  // namespace
}  // namespace quenlo::sim
