// The store and the commands built from it: positions, speeds, frame layout.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "conversion.h"
#include "quenlo/platform.h"

namespace {

const float kZero[3] = {0, 0, 0};

void Store(CMofData& d, int number, int time, int bone, int code, float angle) {
    d.StoreValue(number, time, bone, code, angle, 0.0f, kZero, kZero);
}

int Position(const std::vector<uint8_t>& frame, int slot) {
    return frame.at(8 + 2 * slot) | frame.at(9 + 2 * slot) << 8;
}

uint8_t Sum(const std::vector<uint8_t>& frame) {
    return static_cast<uint8_t>(std::accumulate(frame.begin(), frame.end() - 1, 0u) & 0xFF);
}

TEST(Position, EndsAndMiddle) {
    EXPECT_EQ(PositionOf(0), 7500);
    EXPECT_EQ(PositionOf(135), 11500);
    EXPECT_EQ(PositionOf(-135), 3500);
    EXPECT_EQ(PositionOf(150), 11500);
    EXPECT_EQ(PositionOf(-180), 3500);
    EXPECT_EQ(PositionOf(1), 7529);  // 136 * 8000 / 270 truncates
    EXPECT_EQ(PositionOf(-1), 7470);
    EXPECT_EQ(PositionOf(2147483647), 11500);
    EXPECT_EQ(PositionOf(-2147483647 - 1), 3500);
}

TEST(StoreValue, RoundsHalfAwayFromZero) {
    CMofData d;
    const float angles[] = {44.5f, -44.5f, 44.49f, -0.49999997f, 0.49999997f, 179.6f, NAN};
    const int expected[] = {45, -45, 44, 0, 0, 180, 0};
    for (int i = 0; i < 7; ++i) Store(d, 0, 0, i, i, angles[i]);
    const auto& values = d.motions().at(0).keys.at(0).values;
    ASSERT_EQ(values.size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(values[i].angle, expected[i]) << angles[i];
}

TEST(StoreValue, SameBoneAndKeyOverwritesKeepingTheMotorCode) {
    CMofData d;
    const float rot1[3] = {1, 2, 3}, rot2[3] = {4, 5, 6}, tr2[3] = {7, 8, 9};
    d.StoreValue(3, 10, 5, 103, 20.0f, 0.0f, kZero, rot1);
    d.StoreValue(3, 10, 5, 2, -30.0f, 1.5f, tr2, rot2);
    ASSERT_EQ(d.motions().size(), 1u);
    const MofMotion& m = d.motions()[0];
    EXPECT_EQ(m.number, 3);
    EXPECT_EQ(m.time_scale, 1);
    ASSERT_EQ(m.keys.size(), 1u);
    ASSERT_EQ(m.keys[0].values.size(), 1u);
    const MofValue& v = m.keys[0].values[0];
    EXPECT_EQ(v.motor_code, 103);
    EXPECT_EQ(v.angle, -30);
    EXPECT_EQ(v.roll, 1.5f);
    EXPECT_EQ(v.rotation, (std::array<float, 3>{4, 5, 6}));
    EXPECT_EQ(v.translation, (std::array<float, 3>{7, 8, 9}));
}

TEST(StoreValue, MotionsAndKeysInOrderOfFirstAppearance) {
    CMofData d;
    Store(d, 2, 30, 0, 0, 0);
    Store(d, 0, 10, 0, 0, 0);
    Store(d, 2, 0, 0, 0, 0);
    Store(d, 2, 30, 1, 2, 0);
    ASSERT_EQ(d.motions().size(), 2u);
    EXPECT_EQ(d.motions()[0].number, 2);
    EXPECT_EQ(d.motions()[1].number, 0);
    ASSERT_EQ(d.motions()[0].keys.size(), 2u);
    EXPECT_EQ(d.motions()[0].keys[0].time, 30);
    EXPECT_EQ(d.motions()[0].keys[1].time, 0);
    EXPECT_EQ(d.motions()[0].keys[0].values.size(), 2u);
    EXPECT_EQ(d.FindMotion(2), 0);
    EXPECT_EQ(d.FindMotion(0), 1);
    EXPECT_EQ(d.FindMotion(1), -1);
}

TEST(BuildFrame, TwentyServosMakeA49ByteCommand) {
    CMofData d;
    // Stored in descending servo order: the positions still come out ascending.
    for (int i = 19; i >= 0; --i) {
        const int code = (i % 2) * 100 + i / 2;  // servo number i
        Store(d, 0, 0, i, code, static_cast<float>(i * 5 - 50));
    }
    d.BuildFrames();
    const MofMotion& m = d.motions()[0];
    ASSERT_EQ(m.frames.size(), 1u);
    const std::vector<uint8_t>& f = m.frames[0];
    ASSERT_EQ(f.size(), 49u);
    EXPECT_EQ(f[0], 0x31);
    EXPECT_EQ(f[1], 0x10);
    EXPECT_EQ(f[2], 0xFF);
    EXPECT_EQ(f[3], 0xFF);
    EXPECT_EQ(f[4], 0x0F);
    EXPECT_EQ(f[5], 0x00);
    EXPECT_EQ(f[6], 0x00);
    EXPECT_EQ(f[7], 1);  // first key at time 0: speed = time scale
    for (int s = 0; s < 20; ++s) EXPECT_EQ(Position(f, s), PositionOf(s * 5 - 50)) << s;
    EXPECT_EQ(f[48], Sum(f));
    // The pose keeps the key's order.
    ASSERT_EQ(m.poses.size(), 1u);
    ASSERT_EQ(m.poses[0].values.size(), 20u);
    EXPECT_EQ(m.poses[0].values[0].bone, 19);
    EXPECT_EQ(m.poses[0].speed, 1);
}

TEST(BuildFrame, GroupOneIndexThreeIsServoSevenInBitSevenOfByteTwo) {
    CMofData d;
    Store(d, 0, 0, 4, 103, 90.0f);
    Store(d, 0, 0, 1, 2, -90.0f);  // group 0, index 2: servo 4
    d.BuildFrames();
    const std::vector<uint8_t>& f = d.motions()[0].frames.at(0);
    ASSERT_EQ(f.size(), 13u);
    EXPECT_EQ(f[2], 0x80 | 0x10);
    EXPECT_EQ(Position(f, 0), PositionOf(-90));  // servo 4 first
    EXPECT_EQ(Position(f, 1), PositionOf(90));
    EXPECT_EQ(f[12], Sum(f));
}

TEST(BuildFrame, SpeedFromKeyDistanceTimesScaleModulo256) {
    CMofData d;
    for (int t : {0, 5, 105, 105, 50, 16777215}) Store(d, 0, t, 0, 0, 0);
    // Times 105 twice are one key; later keys that go back get the time scale.
    d.motions()[0].time_scale = 3;
    d.BuildFrames();
    std::vector<int> speeds;
    for (const auto& f : d.motions()[0].frames) speeds.push_back(f[7]);
    // 0: 3; 5: 15; 105: 300 % 256 = 44; 50 (backwards): 3; 16777215: (16777165*3) % 256
    EXPECT_EQ(speeds, (std::vector<int>{3, 15, 44, 3, (16777165LL * 3) % 256}));
    for (size_t k = 0; k < d.motions()[0].poses.size(); ++k)
        EXPECT_EQ(d.motions()[0].poses[k].speed, speeds[k]);
}

TEST(BuildFrame, ServoBeyondTheBitmapIsLeftOutOfCommandAndPose) {
    CMofData d;
    Store(d, 0, 0, 0, 120, 10.0f);  // OD-20: servo 41
    Store(d, 0, 0, 1, 119, 10.0f);  // OD-19: servo 39, the last bit
    Store(d, 0, 0, 2, 0, 10.0f);
    d.BuildFrames();
    const MofMotion& m = d.motions()[0];
    const std::vector<uint8_t>& f = m.frames.at(0);
    ASSERT_EQ(f.size(), 13u);
    EXPECT_EQ(f[0], 13);
    EXPECT_EQ(f[2], 0x01);
    EXPECT_EQ(f[6], 0x80);
    EXPECT_EQ(f[12], Sum(f));
    ASSERT_EQ(m.poses[0].values.size(), 2u);
    EXPECT_EQ(m.poses[0].values[0].bone, 1);
}

TEST(BuildFrame, SecondBoneOnTheSameServoDoesNotAddAPosition) {
    CMofData d;
    Store(d, 0, 0, 0, 5, 10.0f);
    Store(d, 0, 0, 1, 5, 50.0f);
    d.BuildFrames();
    const std::vector<uint8_t>& f = d.motions()[0].frames.at(0);
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(Position(f, 0), PositionOf(10));
    EXPECT_EQ(d.motions()[0].poses[0].values.size(), 2u);
}

TEST(BuildFrames, RebuildingDoesNotDuplicate) {
    CMofData d;
    Store(d, 0, 0, 0, 0, 0);
    Store(d, 0, 10, 0, 0, 0);
    d.BuildFrames();
    d.BuildFrames();
    EXPECT_EQ(d.motions()[0].frames.size(), 2u);
    EXPECT_EQ(d.motions()[0].poses.size(), 2u);
    EXPECT_THROW(d.BuildFrame(1, d.motions()[0].keys[0], 0, 1), std::out_of_range);
}

}  // namespace
