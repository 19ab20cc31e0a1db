// The example motions converted for the example robot give back the joint
// angles they were designed with.
#include <gtest/gtest.h>

#include "conversion.h"
#include "figread.h"
#include "motion_design.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "test_ui.h"

namespace {

const std::string kDir = QUENLO_EXAMPLES_DIR;

class ExampleMotion : public ::testing::TestWithParam<quenlo::motiongen::MotionDesign> {};

TEST_P(ExampleMotion, ConvertsToTheDesignedServoAngles) {
    const quenlo::motiongen::MotionDesign& design = GetParam();
    conversion_test::RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(ui, kDir + "/robot.bac", {kDir + "/" + design.file}, 3);
    ASSERT_NE(data, nullptr) << ui.console;
    EXPECT_EQ(log.err(), "");
    ASSERT_EQ(data->mof_data()->motions().size(), 1u);
    const MofMotion& motion = data->mof_data()->motions()[0];
    ASSERT_EQ(motion.keys.size(), design.times.size());
    ASSERT_EQ(motion.frames.size(), design.times.size());
    EXPECT_GE(design.times.back(), 80);  // 2 to 10 s at 25 ms
    EXPECT_LE(design.times.back(), 400);

    for (size_t k = 0; k < design.times.size(); ++k) {
        const MofKey& key = motion.keys[k];
        ASSERT_EQ(key.time, design.times[k]);
        ASSERT_EQ(key.values.size(), 19u);
        const std::vector<uint8_t>& frame = motion.frames[k];
        ASSERT_EQ(frame.size(), 47u);
        for (const MofValue& v : key.values) {
            const std::string joint = fnbacGetBoneName(v.bone);
            const int designed = quenlo::motiongen::DesignAngle(design, joint, key.time);
            const int servo_angle = fnbacGetMotorRevers(v.bone) ? -designed : designed;
            EXPECT_EQ(v.angle, servo_angle) << design.file << " " << joint << " t=" << key.time;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleMotion, ::testing::ValuesIn(quenlo::motiongen::Designs()),
                         [](const auto& info) {
                             const std::string& f = info.param.file;
                             return f.substr(0, f.find('.'));
                         });

TEST(ExampleMotions, AFewServosAtAFewKeys) {
    // Spot checks in figures, independent of the design tables.
    conversion_test::RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(
        ui, kDir + "/robot.bac",
        {kDir + "/bow.tra", kDir + "/wave.tra", kDir + "/walk.tra", kDir + "/squat.tra"}, 3);
    ASSERT_NE(data, nullptr);
    auto angle = [&](int number, int time, int bone) {
        const MofMotion& m = data->mof_data()->motions().at(data->FindMotion(number));
        for (const MofKey& k : m.keys)
            if (k.time == time)
                for (const MofValue& v : k.values)
                    if (v.bone == bone) return v.angle;
        return -999;
    };
    // Bones: 1 head, 3 r_shoulder_roll, 5 r_wrist, 11 r_hip_pitch, 12 r_knee,
    // 16 l_hip_pitch (reversed), 17 l_knee (reversed).
    EXPECT_EQ(angle(0, 48, 11), -45);  // bow: right hip pitch
    EXPECT_EQ(angle(0, 48, 16), 45);   // the mirrored left one
    EXPECT_EQ(angle(0, 80, 1), -25);   // head down
    EXPECT_EQ(angle(1, 100, 3), 85);   // wave: arm raised sideways
    EXPECT_EQ(angle(1, 65, 5), -35);   // wrist waving
    EXPECT_EQ(angle(1, 85, 5), 35);
    EXPECT_EQ(angle(2, 30, 12), -70);   // walk: right knee up
    EXPECT_EQ(angle(2, 90, 17), 70);    // left knee, reversed servo
    EXPECT_EQ(angle(3, 80, 12), -100);  // squat
    EXPECT_EQ(angle(3, 0, 12), 0);
}

}  // namespace
