// Live-playback commands: servo positions, free, hold and home, RAM set-up.
#include <gtest/gtest.h>

#include <utility>

#include "scripted_port.h"

using board_test::Narrative;
using board_test::Rig;
using board_test::Sum;
using quenlo::LogCapture;

namespace {

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

Bytes AllServo(uint8_t speed, uint16_t position) {
    Bytes b{0x4F, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, speed};
    for (int i = 0; i < 35; ++i) b.push_back(position & 0xFF), b.push_back(position >> 8);
    b.push_back(Sum(b));
    return b;
}

Bytes Record(uint8_t id) {
    return {0x00, id, 0, 0, 0, 0, 0x4C, 0x1D, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00};
}

Bytes Table(std::initializer_list<std::pair<int, uint16_t>> entries) {
    Bytes t(72, 0xFF);
    for (auto [servo, address] : entries)
        t[2 * servo] = address & 0xFF, t[2 * servo + 1] = address >> 8;
    return t;
}

TEST(SendServoPosition, AllServoFreeCommand) {
    Rig rig;
    ASSERT_TRUE(rig.link->SendServoPosition(1, 0x8000, 0, nullptr));
    const Bytes& sent = rig.port->writes.at(0);
    ASSERT_EQ(sent.size(), 79u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8),
              (Bytes{0x4F, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x01}));
    for (int i = 0; i < 35; ++i) {
        EXPECT_EQ(sent[8 + 2 * i], 0x00);
        EXPECT_EQ(sent[9 + 2 * i], 0x80);
    }
    EXPECT_EQ(sent[78], Sum(Bytes(sent.begin(), sent.end() - 1)));
}

TEST(SendServoPosition, ListedServosSetTheirBitsInTheBitmap) {
    Rig rig;
    const int32_t motors[2] = {0, 100};
    ASSERT_TRUE(rig.link->SendServoPosition(0x20, 7500, 2, motors));
    Bytes expected{0x0D, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00, 0x20, 0x4C, 0x1D, 0x4C, 0x1D};
    expected.push_back(Sum(expected));
    EXPECT_EQ(rig.port->writes.at(0), expected);

    // Servo numbers 34 and 35 sit in the fifth bitmap byte; 37 has no place.
    const int32_t high[3] = {17, 117, 118};
    rig.port->writes.clear();
    ASSERT_TRUE(rig.link->SendServoPosition(5, 0x7FFF, 3, high));
    const Bytes& sent = rig.port->writes.at(0);
    EXPECT_EQ(sent.size(), 13u);
    EXPECT_EQ(Bytes(sent.begin() + 2, sent.begin() + 7), (Bytes{0, 0, 0, 0, 0x0C}));
}

TEST(ServoStates, FreeWritesTheImageThenFreesAllServos) {
    Rig rig;
    rig.link->set_system_register(0x8041);
    LogCapture log;
    rig.link->FreeServos();
    ASSERT_EQ(rig.port->writes.size(), 2u);
    EXPECT_EQ(RamWrites(rig.port->writes), (std::vector<RamWrite>{Word(0, 0x8041)}));
    EXPECT_EQ(rig.port->writes[1], AllServo(1, 0x8000));
    EXPECT_EQ(Narrative(log.out()), " モーター(free)\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{100}));
}

TEST(ServoStates, HoldAndHomeWithoutHomeCommandSendsTheListAt7500) {
    Rig rig;
    rig.link->set_system_register(0x0020);
    const int32_t motors[2] = {0, 100};
    LogCapture log;
    rig.link->HoldAndHome(2, motors);
    const auto& w = rig.port->writes;
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(RamWrites({w[0], w[2]}), (std::vector<RamWrite>{Word(0, 0x0021), Word(0, 0x0021)}));
    EXPECT_EQ(w[1], AllServo(1, 0x7FFF));
    EXPECT_EQ(w[3][0], 0x0D);
    EXPECT_EQ(w[3][7], 255);
    EXPECT_EQ(Narrative(log.out()),
              " モーター(hold)\n sleep 500ms\n モーター(home)\n sleep 500ms\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{500, 100, 100, 500}));
    EXPECT_EQ(rig.link->system_register(), 0x0020);  // the image itself is not changed
}

TEST(ServoStates, EveryStepIsSentEvenWhenTheBoardStopsAnswering) {
    Rig rig;
    rig.port->auto_ack = false;
    rig.link->HoldAndHome(0, nullptr);
    EXPECT_EQ(rig.port->writes.size(), 4u);
    EXPECT_TRUE(rig.link->InitRam(nullptr, 0, nullptr));
}

TEST(InitRam, WritesRecordsTableAndSetUpInOrder) {
    Rig rig;
    rig.link->set_system_register(0x0030);
    const int32_t motors[2] = {0, 100};
    LogCapture log;
    ASSERT_TRUE(rig.link->InitRam(nullptr, 2, motors));
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
    EXPECT_EQ(rig.port->writes.size(), expected.size() + 3);  // free, hold, home
    EXPECT_EQ(Narrative(log.out()),
              " ICS OFF\n ICS INFO\n ICS TABLE\n PIO INIT\n vector jump clear\n"
              " モーター(free)\n ICS ON\n モーター(hold)\n sleep 500ms\n モーター(home)\n"
              " sleep 500ms\n LED ON\n RCB-4HV RAM初期化終了\n");
    EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{250, 500, 100, 100, 500}));
    EXPECT_EQ(log.err(), "");
    EXPECT_EQ(rig.link->home_command()[0], 0);
}

TEST(InitRam, HomeCommandIsStoredAtFullSpeedAndUsedForHome) {
    Rig rig;
    Bytes home{0x0D, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00, 0x05, 0x10, 0x27, 0x4C, 0x1D};
    home.push_back(Sum(home));
    const int32_t motors[2] = {0, 100};
    ASSERT_TRUE(rig.link->InitRam(home.data(), 2, motors));
    Bytes stored = home;
    stored[7] = 255;
    stored[12] = Sum(Bytes(stored.begin(), stored.end() - 1));
    EXPECT_EQ(Bytes(rig.link->home_command(), rig.link->home_command() + 13), stored);
    // The home pose is the one frame after the second hold write.
    const auto& w = rig.port->writes;
    EXPECT_NE(std::find(w.begin(), w.end(), stored), w.end());

    // A later InitRam without one forgets it.
    ASSERT_TRUE(rig.link->InitRam(nullptr, 2, motors));
    EXPECT_EQ(rig.link->home_command()[0], 0);
}

TEST(InitRam, MotorsBeyondTheServoTableAreLeftOutWithOneLine) {
    Rig rig;
    // Servo numbers 0, 37 (ID 18 on group 1), 34 and 35.
    const int32_t motors[4] = {0, 118, 17, 117};
    LogCapture log;
    ASSERT_TRUE(rig.link->InitRam(nullptr, 4, motors));
    const auto ram = RamWrites(rig.port->writes);
    EXPECT_EQ(ram[2], (RamWrite{0x0090, Record(0)}));
    EXPECT_EQ(ram[3], (RamWrite{0x00A4, Record(17)}));
    EXPECT_EQ(ram[4], (RamWrite{0x00B8, Record(17)}));
    EXPECT_EQ(ram[5], (RamWrite{0x0044, Table({{0, 0x0090}, {34, 0x00A4}, {35, 0x00B8}})}));
    EXPECT_EQ(log.err(),
              "Motor 118 (servo number 37) has no place in the servo table: left out.\n");
    EXPECT_EQ(CUsbIO::RecordCount(4, motors), 3);
    EXPECT_EQ(CUsbIO::ServoNumber(139), 79);
    EXPECT_EQ(CUsbIO::ServoNumber(-1), -1);
}

}  // namespace
