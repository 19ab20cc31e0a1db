// ConvertMotion and BuildMotorList on models and motions read by the real
// figread and animread.
#include <gtest/gtest.h>

#include <cmath>

#include "animread.h"
#include "conversion.h"
#include "figread.h"
#include "quenlo/platform.h"
#include "test_files.h"

namespace {

using conversion_test::MakeMotion;
using conversion_test::TempFolder;
using conversion_test::TestBone;
using conversion_test::WriteBac;
using conversion_test::WriteTra;

// Writes the model and the motion into a folder of their own, analyses them
// and converts the motion as motion number 0.
std::unique_ptr<CDataInfo> Convert(const std::vector<TestBone>& bones,
                                   const quenlo::tra4::Motion& motion, bool* converted = nullptr) {
    const std::string dir = TempFolder();
    auto d = std::make_unique<CDataInfo>();
    EXPECT_EQ(fnbacanalysis(WriteBac(dir + "m.bac", bones).c_str()), 0);
    d->BuildMotorList();
    EXPECT_EQ(fntraanalysis(WriteTra(dir + "m.tra", motion).c_str()), 0);
    const bool ok = d->ConvertMotion();
    if (converted) *converted = ok;
    d->StoreRawMotion();
    d->set_motion_counter(1);
    d->set_motion_loaded(true);
    d->mof_data()->BuildFrames();
    return d;
}

std::vector<int> Angles(const CDataInfo& d, int bone) {
    std::vector<int> out;
    for (const MofKey& k : d.mof_data()->motions().at(0).keys)
        for (const MofValue& v : k.values)
            if (v.bone == bone) out.push_back(v.angle);
    return out;
}

const float kS30 = 0.5f, kC30 = 0.8660254f;

TEST(ConvertMotion, RotateValuesGiveSignedAnglesAndMirroring) {
    quenlo::LogCapture log;
    // Two bones with the same axes: rest (0,-1,0), swing towards +x.
    auto d = Convert({{"body"}, {"a(ID-00)"}, {"b(OD-03)"}},
                     MakeMotion({0, 10, 20, 30}, {"body", "a", "b"},
                                {{0, 0, 1}, {0, 0, -1}, {0, kS30, kC30}, {0, -kS30, kC30}},
                                {false, false, true}));
    EXPECT_EQ(Angles(*d, 1), (std::vector<int>{0, 180, 30, -30}));
    EXPECT_EQ(Angles(*d, 2), (std::vector<int>{0, -180, -30, 30}));
    // b is OD-03: servo 7, after a's servo 0. Both at 7500 first, then a's +180 held
    // at 11500 and b's mirrored -180 at 3500.
    const auto& frames = d->mof_data()->motions()[0].frames;
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x0D, 0x10, 0x81, 0, 0, 0, 0, 0x01, 0x4C, 0x1D, 0x4C,
                                               0x1D, 0x71}));
    EXPECT_EQ(frames[1], (std::vector<uint8_t>{0x0D, 0x10, 0x81, 0, 0, 0, 0, 0x0A, 0xEC, 0x2C, 0xAC,
                                               0x0D, 0x79}));
    // Progress: model bone index and name, the first angle, every angle before mirroring.
    EXPECT_EQ(log.out().substr(0, log.out().find(" 30")), "bone 1 a\r\n rev=0 offset 0 \r\n 0 180");
    EXPECT_NE(log.out().find("bone 2 b\r\n rev=1 offset 0 \r\n 0 180"), std::string::npos);
    // The values keep the motion's direction in model axes.
    const MofValue& v = d->mof_data()->motions()[0].keys[2].values[0];
    EXPECT_NEAR(v.rotation[0], kS30, 1e-6);
    EXPECT_NEAR(v.rotation[1], -kC30, 1e-6);
    EXPECT_EQ(v.roll, 0.0f);
    // The raw store keeps every bone, driven or not.
    ASSERT_EQ(d->raw_motions().size(), 1u);
    EXPECT_EQ(d->raw_motions()[0].key_count, 4u);
    ASSERT_EQ(d->raw_motions()[0].bones.size(), 3u);
    EXPECT_EQ(d->raw_motions()[0].bones[2].keys[3].rotate, (std::array<float, 3>{0, -kS30, kC30}));
    EXPECT_EQ(d->raw_motions()[0].bones[2].keys[3].time, 30);
}

TEST(ConvertMotion, SwingOutsideTheXyPlaneHasNoSign) {
    // A roll joint: rest (0,-1,0), handle +z.
    const TestBone roll{"r(ID-01)", {0, 0, 0}, {0, -1, 0}, {0, 0, 1}};
    auto d = Convert({roll}, MakeMotion({0, 10}, {"r"}, {{0, kS30, kC30}, {0, -kS30, kC30}}));
    EXPECT_EQ(Angles(*d, 0), (std::vector<int>{30, 30}));
}

TEST(ConvertMotion, SkipsBonesTheModelLacksOrDoesNotDriveAndMatchesNamesIgnoringCase) {
    quenlo::LogCapture log;
    auto d = Convert({{"body"}, {"Arm(ID-02)"}},
                     MakeMotion({0, 4}, {"ghost", "body", "ARM", "arm(ID-02)"}, {{0, 0, -1}}));
    ASSERT_EQ(d->mof_data()->motions().size(), 1u);
    for (const MofKey& k : d->mof_data()->motions()[0].keys) {
        ASSERT_EQ(k.values.size(), 1u);
        EXPECT_EQ(k.values[0].bone, 1);
        EXPECT_EQ(k.values[0].motor_code, 2);
    }
    EXPECT_EQ(log.out().find("bone 1 ARM\r\n"), 0u);
    EXPECT_EQ(log.out().find("ghost"), std::string::npos);
}

TEST(ConvertMotion, NoKeysFailsAndNoBonesStoresNothing) {
    // Every motion file holds a key; with no motion held there is none.
    fntrarelease();
    CDataInfo d;
    EXPECT_FALSE(d.ConvertMotion());
    d.StoreRawMotion();
    ASSERT_EQ(d.raw_motions().size(), 1u);
    EXPECT_EQ(d.raw_motions()[0].key_count, 0u);
    EXPECT_TRUE(d.raw_motions()[0].bones.empty());

    bool ok = false;
    auto e = Convert({{"a(ID-00)"}}, MakeMotion({0, 5}, {}), &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(e->mof_data()->motions().empty());
    EXPECT_EQ(e->FindMotion(0), -1);
}

TEST(BuildMotorList, ServoBeyondTheCommandIsReportedAndLeftOut) {
    quenlo::LogCapture log;
    auto d = Convert({{"near(ID-01)"}, {"far(OD-25)"}, {"twin(ID-01)"}, {"last(OD-19)"}},
                     MakeMotion({0}, {"near", "far", "twin", "last"}, {{0, 0, -1}}));
    EXPECT_EQ(log.err(),
              " BuildMotorList : servo 51 of bone far has no place in a command\r\n"
              " BuildMotorList : servo 2 of bone twin is driven by an earlier bone\r\n");
    // The motor list still names every driven bone; the servo list every servo.
    EXPECT_EQ(d->motor_list(), (std::vector<int32_t>{1, 125, 1, 119}));
    EXPECT_EQ(d->mof_data()->servos(), (std::vector<int32_t>{2, 2, 39, 51}));
}

TEST(BuildMotorList, BonesWhosePointsGiveNoAngleAreNamedOnce) {
    quenlo::LogCapture log;
    const TestBone on_pivot{"pivot(ID-02)", {1, 2, 3}, {1, 2, 3}, {2, 2, 3}};
    const TestBone in_line{"line(ID-03)", {0, 0, 0}, {0, -1, 0}, {0, 2, 0}};
    const TestBone handle_on_pivot{"knob(ID-04)", {0, 0, 0}, {0, -1, 0}, {0, 0, 0}};
    Convert({on_pivot, in_line, handle_on_pivot, {"good(ID-05)"}, {"idle", {}, {}, {}}},
            MakeMotion({0, 10}, {"pivot", "line", "knob", "good"}));
    EXPECT_EQ(log.err(),
              " BuildMotorList : bone pivot has no joint angle: its rotation point is its "
              "position\r\n"
              " BuildMotorList : bone line has no joint angle: its handle point lies on its rest "
              "direction\r\n"
              " BuildMotorList : bone knob has no joint angle: its handle point lies on its rest "
              "direction\r\n");
}

TEST(CDataInfo, AnOlderConversionDoesNotReleaseANewerOnesModel) {
    const std::vector<TestBone> bones = {{"a(ID-00)"}, {"b(ID-01)"}};
    auto older = Convert(bones, MakeMotion({0, 5}, {"a"}));
    auto newer = Convert(bones, MakeMotion({0, 5}, {"a"}));
    older.reset();
    EXPECT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_EQ(fntraGetAnimeNumber(), 2u);
    newer.reset();
    EXPECT_EQ(fnbacGetBoneNumber(), 0u);
    EXPECT_EQ(fntraGetAnimeNumber(), 0u);
}

}  // namespace
