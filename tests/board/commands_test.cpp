// Live-playback commands: servo positions, free, hold and home, RAM set-up.
#include <gtest/gtest.h>

#include <utility>

#include "scripted_port.h"

using board_test::Narrative;
using board_test::Record;
using board_test::Rig;
using board_test::Table;
using quenlo::LogCapture;

namespace {

namespace fr = quenlo::sim::test;
using Bytes = std::vector<uint8_t>;
using RamWrite = std::pair<uint32_t, Bytes>;

// The RAM writes among the frames, as address and data.
std::vector<RamWrite> RamWrites(const std::vector<Bytes>& writes) {
    std::vector<RamWrite> out;
    for (const Bytes& w : writes)
        if (w.size() >= 7 && w[1] == 0x00 && w[2] == 0x02)
            out.push_back({w[3] | w[4] << 8 | w[5] << 16, Bytes(w.begin() + 6, w.end() - 1)});
    return out;
}

RamWrite Word(uint32_t address, uint16_t value) {
    return {address, Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}};
}

// The multi-servo commands among the frames.
std::vector<Bytes> ServoFrames(const std::vector<Bytes>& writes) {
    std::vector<Bytes> out;
    for (const Bytes& w : writes)
        if (w.size() > 1 && w[1] == 0x10) out.push_back(w);
    return out;
}

TEST(SendServoPosition, ListedServosSetTheirBitsInTheBitmap) {
    Rig rig;
    const int32_t motors[2] = {0, 100};
    ASSERT_TRUE(quenlo::board::SendServoPosition(*rig.link, 0x20, 7500, 2, motors));
    EXPECT_EQ(rig.port->writes.at(0), (Bytes{0x0D, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00, 0x20, 0x4C,
                                             0x1D, 0x4C, 0x1D, 0x12}));

    // Servo numbers 34 and 35 sit in the fifth bitmap byte; 37 has no place.
    const int32_t high[3] = {17, 117, 118};
    ASSERT_TRUE(quenlo::board::SendServoPosition(*rig.link, 5, 0x7FFF, 3, high));
    EXPECT_EQ(rig.port->writes.at(1), fr::Move({34, 35}, 5, {0x7FFF, 0x7FFF}));
}

TEST(ServoStates, FreeWritesTheImageThenFreesAllServos) {
    Rig rig;
    rig.link->set_system_register(0x8041);
    LogCapture log;
    quenlo::board::FreeServos(*rig.link);
    ASSERT_EQ(rig.port->writes.size(), 2u);
    EXPECT_EQ(RamWrites(rig.port->writes), (std::vector<RamWrite>{Word(0, 0x8041)}));
    EXPECT_EQ(rig.port->writes[1], fr::AllServos(0x8000, 1));
    EXPECT_EQ(Narrative(log.out()), " モーター(free)\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{100}));
}

TEST(ServoStates, EveryStepIsSentEvenWhenTheBoardStopsAnswering) {
    Rig rig;
    rig.port->auto_ack = false;
    quenlo::board::HoldAndHome(*rig.link, 0, nullptr);
    EXPECT_EQ(rig.port->writes.size(), 4u);
    EXPECT_TRUE(quenlo::board::InitRam(*rig.link, nullptr, 0, nullptr));
}

TEST(InitRam, WritesRecordsTableAndSetUpInOrder) {
    Rig rig;
    rig.link->set_system_register(0x0030);
    const int32_t motors[2] = {0, 100};
    LogCapture log;
    ASSERT_TRUE(quenlo::board::InitRam(*rig.link, nullptr, 2, motors));
    const std::vector<RamWrite> expected = {
        Word(0x0000, 0x0030),
        Word(0x0002, 0x0000),
        {0x0090, Record(0)},
        {0x00A4, Record(0)},
        {0x0044, Table({{0, 0x0090}, {1, 0x00A4}})},
        Word(0x0038, 0x03FF),
        Word(0x003A, 0x0000),
        Word(0x008C, 0xFFFF),
        Word(0x0000, 0x0001),  // servo output on, frame period bits cleared
        Word(0x0000, 0x0031),  // hold: the image with bit 0
        Word(0x0000, 0x0031),
        Word(0x0000, 0x8001),  // LED on
    };
    EXPECT_EQ(RamWrites(rig.port->writes), expected);
    EXPECT_EQ(ServoFrames(rig.port->writes),
              (std::vector<Bytes>{fr::AllServos(0x8000, 1), fr::AllServos(0x7FFF, 1),
                                  fr::Move({0, 1}, 255, {7500, 7500})}));
    EXPECT_EQ(rig.port->writes.size(), expected.size() + 3);
    EXPECT_EQ(Narrative(log.out()),
              " ICS OFF\n ICS INFO\n ICS TABLE\n PIO INIT\n vector jump clear\n"
              " モーター(free)\n ICS ON\n モーター(hold)\n sleep 500ms\n モーター(home)\n"
              " sleep 500ms\n LED ON\n RCB-4HV RAM初期化終了\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{250, 500, 100, 100, 500}));
    EXPECT_EQ(log.err(), "");
    EXPECT_EQ(rig.link->home_command()[0], 0);
    EXPECT_EQ(rig.link->system_register(), 0x0030);  // the image itself is not changed
}

TEST(InitRam, HomeCommandIsStoredAtFullSpeedAndUsedForHome) {
    Rig rig;
    const Bytes home = fr::Move({0, 1}, 5, {10000, 7500});
    const int32_t motors[2] = {0, 100};
    ASSERT_TRUE(quenlo::board::InitRam(*rig.link, home.data(), 2, motors));
    const Bytes stored = fr::Move({0, 1}, 255, {10000, 7500});
    EXPECT_EQ(Bytes(rig.link->home_command(), rig.link->home_command() + 13), stored);
    EXPECT_EQ(ServoFrames(rig.port->writes).back(), stored);  // and sent as the home pose

    // A later InitRam without one forgets it.
    ASSERT_TRUE(quenlo::board::InitRam(*rig.link, nullptr, 2, motors));
    EXPECT_EQ(rig.link->home_command()[0], 0);
}

TEST(InitRam, MotorsBeyondTheServoTableAreLeftOutWithOneLine) {
    Rig rig;
    // Servo numbers 0, 37 (ID 18 on group 1), 34 and 35.
    const int32_t motors[4] = {0, 118, 17, 117};
    LogCapture log;
    ASSERT_TRUE(quenlo::board::InitRam(*rig.link, nullptr, 4, motors));
    const auto ram = RamWrites(rig.port->writes);
    EXPECT_EQ(ram[2], (RamWrite{0x0090, Record(0)}));
    EXPECT_EQ(ram[3], (RamWrite{0x00A4, Record(17)}));
    EXPECT_EQ(ram[4], (RamWrite{0x00B8, Record(17)}));
    EXPECT_EQ(ram[5], (RamWrite{0x0044, Table({{0, 0x0090}, {34, 0x00A4}, {35, 0x00B8}})}));
    EXPECT_EQ(log.err(),
              "Motor 118 (servo number 37) has no place in the servo table: left out.\n");
    EXPECT_EQ(quenlo::board::RecordCount(4, motors), 3);
    EXPECT_EQ(quenlo::board::ServoNumber(-1), -1);
}

}  // namespace
