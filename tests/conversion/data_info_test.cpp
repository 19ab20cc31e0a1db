// The read side of a conversion: commands by store index, key times, and the
// preview cursor with its double buffer.
#include <gtest/gtest.h>

#include <vector>

#include "conversion.h"
#include "quenlo/platform.h"

namespace {

// Motion 0 of the store: three keys of five values each. Value v at key k has
// roll 100k + 10v and translation/rotation derived from it.
void Fill(CDataInfo& d, int number = 0) {
    for (int k = 0; k < 3; ++k) {
        for (int v = 0; v < 5; ++v) {
            const float base = static_cast<float>(100 * k + 10 * v);
            const float tr[3] = {base + 1, base + 2, base + 3};
            const float rot[3] = {base + 4, base + 5, base + 6};
            d.mof_data()->StoreValue(number, 10 * k, v + 1, v, 0.0f, base, tr, rot);
        }
    }
    d.mof_data()->BuildFrames();
}

void ResetPreview(CDataInfo& d, int motion) {
    d.set_current_motion(motion);
    d.set_current_frame(0);
    for (int i = 0; i < 36; ++i) d.value_buffer_a()[i] = d.value_buffer_b()[i] = 0.0f;
}

TEST(AnimeValue, EachCallPairsThePreviousValuesWithTheCurrentPose) {
    CDataInfo d;
    Fill(d);
    ResetPreview(d, 0);
    float first[70], second[70];
    int32_t bones[5];
    quenlo::LogCapture log;
    // Right after the reset the previous values are zeros.
    ASSERT_EQ(d.GetAnimeValue(first, 5, bones), 70);
    EXPECT_EQ(log.err(), "");
    EXPECT_EQ(d.current_frame(), 1);
    for (int v = 0; v < 5; ++v) {
        EXPECT_EQ(bones[v], v + 1);
        for (int i = 0; i < 7; ++i) {
            const int m = 7 * v + i;
            EXPECT_EQ(first[2 * m], 0.0f) << m;
            EXPECT_EQ(first[2 * m + 1], static_cast<float>(10 * v + i)) << m;
        }
    }
    // The second call starts where the first ended.
    ASSERT_EQ(d.GetAnimeValue(second, 5, bones), 70);
    for (int m = 0; m < 35; ++m) {
        EXPECT_EQ(second[2 * m], first[2 * m + 1]) << m;
        EXPECT_EQ(second[2 * m + 1], first[2 * m + 1] + 100.0f) << m;
    }
    EXPECT_EQ(d.current_frame(), 2);
    // Even frames fill buffer A (value 1 of key 0), odd ones B (value 0 of key 1).
    EXPECT_EQ(d.value_buffer_a()[7], 10.0f);
    EXPECT_EQ(d.value_buffer_b()[0], 100.0f);
    float third[70];
    ASSERT_EQ(d.GetAnimeValue(third, 5, bones), 70);
    EXPECT_EQ(third[0], 100.0f);
    EXPECT_EQ(third[1], 200.0f);
    // Beyond the last pose the cursor answers the out-of-range error.
    EXPECT_THROW(d.GetAnimeValue(third, 5, bones), std::out_of_range);
}

TEST(AnimeValue, CountMismatchIsLoggedAndNothingIsWrittenPastTheArrays) {
    CDataInfo d;
    Fill(d);
    ResetPreview(d, 0);
    // Fewer values than asked: both lines, and the slots beyond keep their contents.
    std::vector<float> out(14 * 7, -1.0f);
    std::vector<int32_t> bones(7, -1);
    quenlo::LogCapture log;
    EXPECT_EQ(d.GetAnimeValue(out.data(), 7, bones.data()), 98);
    EXPECT_EQ(log.err(),
              " GetAnimeValue : bone number error\r\n"
              " GetAnimeValue : roll value number error\r\n");
    EXPECT_EQ(bones[4], 5);
    EXPECT_EQ(bones[5], -1);

    // More than the buffers hold: held to 36 values, 504 floats.
    ResetPreview(d, 0);
    std::vector<float> big(14 * 40 + 1, -7.0f);
    std::vector<int32_t> many(40, -1);
    EXPECT_EQ(d.GetAnimeValue(big.data(), 40, many.data()), 14 * 36);
    EXPECT_EQ(big[14 * 36], -7.0f);

    // Fewer asked than the pose holds: only n values, no message.
    ResetPreview(d, 0);
    log.clear();
    float small[28];
    int32_t two[2];
    EXPECT_EQ(d.GetAnimeValue(small, 2, two), 28);
    EXPECT_EQ(log.err(), "");
    EXPECT_EQ(d.GetAnimeValue(small, -3, two), 0);
}

TEST(ReadSide, CommandsKeyTimesAndPoseCursorByStoreIndex) {
    CDataInfo d;
    Fill(d, 4);
    EXPECT_EQ(d.GetFrameCount(0), 3);
    // Five values at angle 0 on servos 0, 2, 4, 6, 8; ten units after the previous key.
    const uint8_t* f = d.GetFrameCommand(0, 2);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(f, f + 19),
              (std::vector<uint8_t>{0x13, 0x10, 0x55, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x4C, 0x1D,
                                    0x4C, 0x1D, 0x4C, 0x1D, 0x4C, 0x1D, 0x4C, 0x1D, 0x90}));
    EXPECT_THROW(d.GetFrameCommand(0, 3), std::out_of_range);
    EXPECT_THROW(d.GetFrameCommand(1, 0), std::out_of_range);
    EXPECT_THROW(d.GetFrameCommand(-1, 0), std::out_of_range);
    EXPECT_THROW(d.GetFrameCount(1), std::out_of_range);

    EXPECT_EQ(d.GetKeyTime(0, 0), 0);
    EXPECT_EQ(d.GetKeyTime(2, 0), 20);
    EXPECT_EQ(d.GetKeyTime(99, 0), 20);
    EXPECT_THROW(d.GetKeyTime(-1, 0), std::out_of_range);
    EXPECT_THROW(d.GetKeyTime(0, 1), std::out_of_range);

    d.set_current_motion(0);
    d.set_current_frame(1);
    EXPECT_EQ(d.GetPoseCount(), 3);
    EXPECT_EQ(d.GetPoseValueCount(), 5);
    EXPECT_EQ(d.GetPoseSpeed(), 10);
    d.set_current_frame(3);
    EXPECT_THROW(d.GetPoseSpeed(), std::out_of_range);
    EXPECT_THROW(d.GetPoseValueCount(), std::out_of_range);
    d.set_current_motion(1);
    EXPECT_THROW(d.GetPoseCount(), std::out_of_range);
}

TEST(ReadSide, MotionWithoutCommandsAnswersNothing) {
    CDataInfo d;
    d.mof_data()->StoreValue(0, 0, 0, 0, 0.0f, 0.0f, std::array<float, 3>{}.data(),
                             std::array<float, 3>{}.data());
    // Before BuildFrames the record has keys but no commands or poses.
    EXPECT_EQ(d.GetFrameCount(0), 0);
    EXPECT_EQ(d.GetFrameCommand(0, 0), nullptr);
    EXPECT_EQ(d.GetPoseCount(), 0);
    EXPECT_EQ(d.GetPoseValueCount(), 0);
    EXPECT_EQ(d.GetPoseSpeed(), -1);
}

}  // namespace
