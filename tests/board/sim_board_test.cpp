// CUsbIO against the board simulator: speed search, injected faults, and a ROM
// image that the simulated board runs on its own.
#include <gtest/gtest.h>

#include <tuple>

#include "board_sim.h"
#include "scripted_port.h"

using board_test::RecordingUi;
using board_test::Sum;
using quenlo::LogCapture;
using quenlo::ManualClock;
using quenlo::SerialError;
using quenlo::sim::BoardSim;
using quenlo::sim::Options;
using quenlo::sim::SimSerialPort;

namespace {

using Bytes = std::vector<uint8_t>;

struct SimRig {
    explicit SimRig(Options options = {}) : board(options) {
        auto p = std::make_unique<SimSerialPort>(board, &clock);
        port = p.get();
        link = std::make_unique<CUsbIO>(std::move(p), clock);
    }
    ManualClock clock;
    BoardSim board;
    SimSerialPort* port;
    std::unique_ptr<CUsbIO> link;
};

Options AtSpeed(int index) {
    Options o;
    o.speed_index = index;
    return o;
}

const uint8_t kAckCheck[3] = {0x03, 0xFE, 0x01};

TEST(SimSpeedSearch, FindsTheBoardAtEachSpeed) {
    // Board speed index -> Connect's answers, in order, and the number of
    // openings with the speed of the last.
    const struct {
        int board;
        std::vector<int> answers;
        std::vector<uint32_t> bauds;
    } cases[] = {
        {0, {0}, {115200}},
        {1, {1}, {115200, 115200, 625000}},
        {2, {-1, 2}, {115200, 115200, 625000, 1250000}},
        {3, {0}, {115200}},  // index 3 runs at 115200 as well
    };
    for (const auto& c : cases) {
        SimRig rig(AtSpeed(c.board));
        LogCapture log;
        for (int expected : c.answers)
            EXPECT_EQ(rig.link->Connect("ttySIM0"), expected) << "board at " << c.board;
        EXPECT_EQ(rig.port->open_count(), static_cast<int>(c.bauds.size()));
        EXPECT_EQ(rig.port->baud(), c.bauds.back());
        EXPECT_EQ(rig.port->path(), quenlo::SerialDevicePath("ttySIM0"));
        EXPECT_TRUE(rig.link->IsOpen());
        // The image reached the board's system register.
        EXPECT_EQ(rig.board.RamWord(0), rig.link->system_register());
    }
}

TEST(SimFaults, UnansweredFrameCostsTwoReadTimeoutsAndOnePause) {
    // A board that never answers, and one that sends three bytes and falls silent.
    for (bool partial : {false, true}) {
        Options o;
        if (partial)
            o.partial_reply_at = 1;
        else
            o.silent_after = 0;
        SimRig rig(o);
        ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
        LogCapture log;
        EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));
        EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{1000, 10, 1000}));
        const std::string line =
            std::string("Receive data is abnormal.(1) res[0]=") + (partial ? "4" : "0") + " \n";
        EXPECT_EQ(log.err(), line + line);
        EXPECT_EQ(log.out(), ">> 03 FE 01\r\n");         // no reply dump
        EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));  // it stays silent
    }
}

TEST(SimFaults, NackAndBadChecksum) {
    Options o;
    o.nack_at = 2;
    SimRig rig(o);
    ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
    const uint8_t data[2] = {0x01, 0x00};
    EXPECT_TRUE(rig.link->WriteRam(0, data, 2));
    LogCapture log;
    EXPECT_FALSE(rig.link->WriteRam(0, data, 2));
    EXPECT_EQ(log.err(), "The board refused the command (NACK).\n");
    EXPECT_EQ(log.out(), ">> 09 00 02 00 00 00 01 00 0C\r\n<< 04 00 15 19\r\n");
    EXPECT_TRUE(rig.link->WriteRam(0, data, 2));

    // A frame with a wrong checksum: silence, or NACK when the board is told so.
    const uint8_t bad[3] = {0x03, 0xFE, 0x02};
    log.clear();
    EXPECT_FALSE(rig.link->Transfer(bad, 3));
    EXPECT_EQ(log.err(),
              "Receive data is abnormal.(1) res[0]=0 \nReceive data is abnormal.(1) res[0]=0 \n");
    rig.board.options().nack_bad_sum = true;
    log.clear();
    EXPECT_FALSE(rig.link->Transfer(bad, 3));
    EXPECT_EQ(log.err(), "The board refused the command (NACK).\n");
}

TEST(SimFaults, SlowRepliesWithinOneRetryStillCount) {
    for (auto [delay, ok, failures] :
         {std::tuple{500u, true, 0}, {1500u, true, 1}, {2500u, false, 2}}) {
        Options o;
        o.reply_delay_ms = delay;
        SimRig rig(o);
        ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
        LogCapture log;
        EXPECT_EQ(rig.link->Transfer(kAckCheck, 3), ok) << delay;
        size_t lines = 0;
        for (size_t p = log.err().find("Receive"); p != std::string::npos;
             p = log.err().find("Receive", p + 1))
            ++lines;
        EXPECT_EQ(lines, static_cast<size_t>(failures)) << delay;
    }
}

TEST(SimFaults, HangupEndsWritesAndReopening) {
    Options o;
    o.hangup_after = 1;
    SimRig rig(o);
    ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
    EXPECT_TRUE(rig.link->Transfer(kAckCheck, 3));
    LogCapture log;
    EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));
    EXPECT_EQ(log.err(), "The data transmission is abnormal.\n");
    log.clear();
    EXPECT_EQ(rig.link->Connect("ttySIM0"), -1);
    EXPECT_EQ(log.err(), "Port could not open. ttySIM0\n");
}

// ---- ROM image run by the board ---------------------------------------------

Bytes Frame(const std::vector<int>& servos, uint8_t speed, uint16_t position) {
    Bytes f{static_cast<uint8_t>(2 * servos.size() + 9), 0x10, 0, 0, 0, 0, 0, speed};
    for (int s : servos) f[2 + s / 8] |= static_cast<uint8_t>(1 << (s % 8));
    for (size_t i = 0; i < servos.size(); ++i)
        f.push_back(static_cast<uint8_t>(position + i)), f.push_back((position + i) >> 8);
    f.push_back(Sum(f));
    return f;
}

quenlo::RomContent Robot(int motions) {
    quenlo::RomContent c;
    c.motors = {0, 100, 1, 101, 17, 117, 118};  // servos 0, 1, 2, 3, 34, 35; 37 left out
    const std::vector<int> servos{0, 1, 2, 3, 34, 35};
    for (int m = 0; m < motions; ++m) {
        std::vector<Bytes> frames;
        for (int k = 0; k <= m % 4; ++k)
            frames.push_back(Frame(servos, static_cast<uint8_t>(5 + k), 6000 + 100 * m + 10 * k));
        c.entries.push_back(frames);
    }
    c.interval_ms = 500;
    return c;
}

TEST(SimRomImage, TheBoardReplaysEveryMotionInOrder) {
    SimRig rig(AtSpeed(2));
    ASSERT_EQ(rig.link->Connect("ttySIM0"), -1);
    ASSERT_EQ(rig.link->Connect("ttySIM0"), 2);
    const quenlo::RomContent content = Robot(6);
    RecordingUi ui;
    LogCapture log;
    ASSERT_TRUE(quenlo::WriteRomImage(ui, *rig.link, content));
    EXPECT_EQ(rig.board.reboot_count(), 1);

    quenlo::sim::RunLimits limits;
    limits.passes = 2;
    const quenlo::sim::RunResult run = rig.board.RunRom(limits);
    ASSERT_TRUE(run.ok) << run.stop_reason;

    // Boot: free, hold, home (the first frame of motion 0); then every motion's
    // frames in order, twice round the loop.
    std::vector<Bytes> expected;
    Bytes free_all{0x4F, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x01};
    for (int i = 0; i < 35; ++i) free_all.push_back(0x00), free_all.push_back(0x80);
    free_all.push_back(Sum(free_all));
    expected.push_back(free_all);
    ASSERT_EQ(run.moves.size() > 2, true);
    expected.push_back(run.moves[1].frame);  // hold, checked below
    expected.push_back(content.entries[0][0]);
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& frames : content.entries)
            for (const Bytes& f : frames) expected.push_back(f);
    std::vector<Bytes> played;
    for (const auto& m : run.moves) played.push_back(m.frame);
    EXPECT_EQ(played, expected);
    EXPECT_EQ(run.moves[1].positions, std::vector<uint16_t>(35, 0x7FFF));

    // The boot program's copies put the table and records where the table says.
    const auto& ram = rig.board.ram();
    const uint16_t expected_table[36] = {
        0x90,   0xA4,   0xB8,   0xCC,   0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
        0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
        0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
        0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xE0,   0xF4};
    const uint8_t ids[6] = {0, 0, 1, 1, 17, 17};
    for (int s = 0; s < 36; ++s) {
        EXPECT_EQ(rig.board.RamWord(0x44 + 2 * s), expected_table[s]) << s;
        if (expected_table[s] != 0xFFFF) {
            EXPECT_EQ(ram.at(expected_table[s] + 1), ids[s < 4 ? s : s - 30]) << s;
        }
    }
    EXPECT_EQ(rig.board.RamWord(0x00F4 + 20), 0);  // no seventh record
    EXPECT_EQ(rig.board.RamWord(0), 0x8003);
}

TEST(SimRomImage, InjectedNackInterruptsTheTransfer) {
    Options o;
    o.nack_at = 30;
    SimRig rig(o);
    ASSERT_EQ(rig.link->Connect("ttySIM0"), 0);
    RecordingUi ui;
    LogCapture log;
    EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, Robot(3)));
    EXPECT_EQ(ui.lines.back(), "転送が中断しました\r\n");
    EXPECT_EQ(rig.board.frame_count(), 30u);
    EXPECT_EQ(rig.board.reboot_count(), 0);
}

}  // namespace
