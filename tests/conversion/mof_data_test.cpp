// The store and the commands built from it: positions, speeds, frame layout.
#include <gtest/gtest.h>

#include <cmath>

#include "conversion.h"
#include "quenlo/platform.h"

namespace {

const float kZero[3] = {0, 0, 0};

void Store(CMofData& d, int number, int time, int bone, int code, float angle) {
    d.StoreValue(number, time, bone, code, angle, 0.0f, kZero, kZero);
}

TEST(Position, EndsAndMiddle) {
    // 1 degree: 136 * 8000 / 270 truncates.
    const int32_t cases[][2] = {{0, 7500},    {135, 11500},       {-135, 3500},
                                {150, 11500}, {-180, 3500},       {1, 7529},
                                {-1, 7470},   {INT32_MAX, 11500}, {INT32_MIN, 3500}};
    for (const auto& [angle, position] : cases)
        EXPECT_EQ(quenlo::conversion::PositionOf(angle), position) << angle;
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
    // Servo number i at i * 5 - 50 degrees, stored in descending servo order:
    // the positions still come out ascending.
    for (int i = 19; i >= 0; --i) {
        const int code = (i % 2) * 100 + i / 2;
        Store(d, 0, 0, i, code, static_cast<float>(i * 5 - 50));
    }
    d.BuildFrames();
    const MofMotion& m = d.motions()[0];
    ASSERT_EQ(m.frames.size(), 1u);
    // Speed byte 1: the first key at time 0 gets the time scale.
    EXPECT_EQ(m.frames[0],
              (std::vector<uint8_t>{0x31, 0x10, 0xFF, 0xFF, 0x0F, 0x00, 0x00, 0x01, 0x82, 0x17,
                                    0x16, 0x18, 0xAA, 0x18, 0x3E, 0x19, 0xD3, 0x19, 0x67, 0x1A,
                                    0xFB, 0x1A, 0x8F, 0x1B, 0x23, 0x1C, 0xB7, 0x1C, 0x4C, 0x1D,
                                    0xE0, 0x1D, 0x74, 0x1E, 0x08, 0x1F, 0x9C, 0x1F, 0x30, 0x20,
                                    0xC4, 0x20, 0x59, 0x21, 0xED, 0x21, 0x81, 0x22, 0xA6}));
    // The pose keeps the key's order.
    ASSERT_EQ(m.poses.size(), 1u);
    ASSERT_EQ(m.poses[0].values.size(), 20u);
    EXPECT_EQ(m.poses[0].values[0].bone, 19);
}

TEST(BuildFrame, OnlyTheFirstBoneOfAServoWithinTheBitmapGetsAPosition) {
    CMofData d;
    Store(d, 0, 0, 4, 103, 90.0f);  // group 1, index 3: servo 7, bit 7 of byte 2
    Store(d, 0, 0, 1, 2, -90.0f);   // servo 4, ahead of servo 7
    Store(d, 0, 0, 0, 120, 10.0f);  // OD-20: servo 41, beyond the bitmap
    Store(d, 0, 0, 2, 119, 10.0f);  // OD-19: servo 39, the last bit
    Store(d, 0, 0, 3, 2, 50.0f);    // servo 4 again: no second position
    d.BuildFrames();
    const MofMotion& m = d.motions()[0];
    EXPECT_EQ(m.frames.at(0), (std::vector<uint8_t>{0x0F, 0x10, 0x90, 0x00, 0x00, 0x00, 0x80, 0x01,
                                                    0xE1, 0x12, 0xB6, 0x27, 0x74, 0x1E, 0x92}));
    // The pose leaves out only the servo beyond the bitmap.
    std::vector<int> bones;
    for (const MofPoseValue& v : m.poses.at(0).values) bones.push_back(v.bone);
    EXPECT_EQ(bones, (std::vector<int>{4, 1, 2, 3}));
}

TEST(BuildFrame, SpeedFromKeyDistanceTimesScaleHeldAt255) {
    CMofData d;
    for (int t : {0, 5, 90, 105, 105, 50, 16777215, 16777215 - 1}) Store(d, 2, t, 0, 0, 0);
    // Times 105 twice are one key; later keys that go back get the time scale.
    d.motions()[0].time_scale = 3;
    d.BuildFrames();
    d.BuildFrames();  // a rebuild reports each held key once
    std::vector<int> speeds;
    for (const auto& f : d.motions()[0].frames) speeds.push_back(f[7]);
    // 0: 3; 5: 15; 90: 255 exactly; 105: 45; 50 (backwards): 3; 16777215: 16777165 * 3,
    // held at 255 where modulo 256 it was 103, a violent move; the last (backwards): 3.
    EXPECT_EQ(speeds, (std::vector<int>{3, 15, 255, 45, 3, 255, 3}));
    for (size_t k = 0; k < d.motions()[0].poses.size(); ++k)
        EXPECT_EQ(d.motions()[0].poses[k].speed, speeds[k]);
    ASSERT_EQ(d.speed_clamps().size(), 1u);
    EXPECT_EQ(d.speed_clamps()[0].number, 2);
    EXPECT_EQ(d.speed_clamps()[0].time, 16777215);
    EXPECT_EQ(d.speed_clamps()[0].frames, 16777165 * 3);
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
