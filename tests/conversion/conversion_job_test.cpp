// The main window's conversion job: console lines, time scale, and the ROM
// content that maps motion-list entries to their records.
#include <gtest/gtest.h>

#include <cstdio>

#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "test_files.h"
#include "test_ui.h"

namespace {

using conversion_test::MakeMotion;
using conversion_test::RecordingUi;
using conversion_test::TempFolder;
using conversion_test::WriteBac;
using conversion_test::WriteTra;

struct Files {
    std::string dir = TempFolder();
    std::string bac = WriteBac(dir + "robot.bac", {{"body"}, {"a(ID-00)"}, {"b(OD-01R)"}});
    std::string m0 = WriteTra(dir + "m0.tra", MakeMotion({0, 10, 15}, {"body", "a", "b"}));
    std::string m1 = WriteTra(dir + "m1.tra", MakeMotion({0, 100}, {"a"}));
    std::string none = WriteTra(dir + "none.tra", MakeMotion({0, 10}, {"body", "ghost"}));
    std::string nokeys = WriteTra(dir + "nokeys.tra", MakeMotion({}, {"a"}));
};

TEST(RunConversion, ValidRunPrintsEveryStepAndAppliesTheRate) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(ui, f.bac, {f.m0, f.m1}, 6);  // "45": time scale 3
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ui.console,
              "BAC解析中\r\nTRA#0解析中\r\nTRA#1解析中\r\n再生レート設定\r\nコマンド生成\r\n"
              "ビューデータ生成\r\n<preview>変換成功\r\n");
    EXPECT_TRUE(ui.previewed_with_model);
    EXPECT_EQ(ui.busy_calls, (std::vector<bool>{true, false}));
    EXPECT_TRUE(data->model_loaded());
    EXPECT_TRUE(data->motion_loaded());
    EXPECT_EQ(data->motion_counter(), 2);
    EXPECT_EQ(data->motor_list(), (std::vector<int32_t>{0, 101}));
    ASSERT_EQ(data->GetFrameCount(0), 3);
    EXPECT_EQ(data->GetFrameCommand(0, 0)[7], 3);
    EXPECT_EQ(data->GetFrameCommand(0, 1)[7], 30);
    EXPECT_EQ(data->GetFrameCommand(0, 2)[7], 15);
    EXPECT_EQ(data->GetFrameCommand(1, 1)[7], 300 % 256);
    EXPECT_EQ(data->raw_motions().size(), 2u);
}

TEST(Convert, ChecksTheModelFieldFirstThenTheMotionList) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    EXPECT_EQ(quenlo::Convert(ui, "", {}, 3), nullptr);
    EXPECT_EQ(quenlo::Convert(ui, "robot.tra", {f.m0}, 3), nullptr);
    EXPECT_EQ(quenlo::Convert(ui, f.bac, {}, 3), nullptr);
    EXPECT_EQ(ui.console,
              "BACファイルがありません\r\nBACファイルがありません\r\nTRAファイルがありません\r\n");
    EXPECT_TRUE(ui.busy_calls.empty());

    // Only the field's first line counts, and the ending's case does not.
    const std::string upper = f.dir + "UPPER.BAC";
    ASSERT_EQ(std::rename(f.bac.c_str(), upper.c_str()), 0);
    ui.console.clear();
    EXPECT_NE(quenlo::Convert(ui, upper + "\r\nsecond line", {f.m0}, 3), nullptr);
    EXPECT_EQ(ui.console.rfind("BAC解析中\r\n", 0), 0u);
}

TEST(Convert, AfterADropMissingInputsAreSilent) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    EXPECT_EQ(quenlo::TryAutoConversion(ui, "", {f.m0}, 3), nullptr);
    EXPECT_EQ(quenlo::TryAutoConversion(ui, f.bac, {}, 3), nullptr);
    EXPECT_EQ(ui.console, "");
    EXPECT_NE(quenlo::TryAutoConversion(ui, f.bac, {f.m0}, 3), nullptr);
}

TEST(RunConversion, NoRateLeavesTheTimeScaleUnset) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(ui, f.bac, {f.m0}, -1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->mof_data()->motions()[0].time_scale, 1);
    EXPECT_EQ(data->GetFrameCommand(0, 1)[7], 10);
    data = quenlo::RunConversion(ui, f.bac, {f.m0}, 9);
    EXPECT_EQ(data->mof_data()->motions()[0].time_scale, 1);
}

TEST(RunConversion, BadSecondOfThreeMotionsNamesItAndLeavesNoConversion) {
    Files f;
    const std::string bad = f.dir + "bad.tra";
    std::ofstream(bad) << ";TRA\n(traVersion 5)\n";
    RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(ui, f.bac, {f.m0, bad, f.m1}, 3);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(ui.console, "BAC解析中\r\nTRA#0解析中\r\nTRA#1解析中\r\n" + bad +
                              "\r\n↑有効なTRA4ファイルではありません\r\n");
    EXPECT_EQ(ui.busy_calls, (std::vector<bool>{true, false}));
}

TEST(RunConversion, MotionWithoutKeysIsNotAValidFile) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    EXPECT_EQ(quenlo::RunConversion(ui, f.bac, {f.nokeys}, 3), nullptr);
    EXPECT_EQ(ui.console, "BAC解析中\r\nTRA#0解析中\r\n" + f.nokeys +
                              "\r\n↑有効なTRA4ファイルではありません\r\n");
}

TEST(RunConversion, BadModelNamesIt) {
    Files f;
    const std::string bad = f.dir + "bad.bac";
    std::ofstream(bad) << ";BAC\n(bacVersion 5)\n";
    RecordingUi ui;
    quenlo::LogCapture log;
    EXPECT_EQ(quenlo::RunConversion(ui, bad, {f.m0}, 3), nullptr);
    EXPECT_EQ(ui.console, "BAC解析中\r\n" + bad + "\r\n↑有効なBAC6ファイルではありません\r\n");
    EXPECT_EQ(ui.busy_calls, (std::vector<bool>{true, false}));
}

TEST(RunConversion, MotionWithoutValuesHasNoRecordAndRomContentMapsByNumber) {
    Files f;
    RecordingUi ui;
    quenlo::LogCapture log;
    auto data = quenlo::RunConversion(ui, f.bac, {f.m0, f.none, f.m1}, 3);
    ASSERT_NE(data, nullptr);
    // The store holds two records; the third file's sits at index 1.
    ASSERT_EQ(data->mof_data()->motions().size(), 2u);
    EXPECT_EQ(data->FindMotion(0), 0);
    EXPECT_EQ(data->FindMotion(1), -1);
    EXPECT_EQ(data->FindMotion(2), 1);
    EXPECT_EQ(data->GetFrameCount(1), 2);
    EXPECT_EQ(data->raw_motions().size(), 3u);

    const quenlo::RomContent rom = quenlo::MakeRomContent(*data, 3, 500);
    EXPECT_EQ(rom.motors, (std::vector<int32_t>{0, 101}));
    EXPECT_EQ(rom.interval_ms, 500);
    ASSERT_EQ(rom.entries.size(), 3u);
    EXPECT_EQ(rom.entries[0], data->mof_data()->motions()[0].frames);
    EXPECT_TRUE(rom.entries[1].empty());
    EXPECT_EQ(rom.entries[2], data->mof_data()->motions()[1].frames);
    ASSERT_EQ(rom.entries[2].size(), 2u);
    EXPECT_EQ(rom.entries[2][1][7], 100);

    // Entries beyond the conversion's motions are empty slots.
    EXPECT_EQ(quenlo::MakeRomContent(*data, 4, 0).entries[3].size(), 0u);
    EXPECT_TRUE(quenlo::MakeRomContent(*data, -1, 0).entries.empty());
}

TEST(MakeRomContent, NoMotorsBeforeTheModelIsRead) {
    CDataInfo empty;
    const quenlo::RomContent rom = quenlo::MakeRomContent(empty, 2, 100);
    EXPECT_TRUE(rom.motors.empty());
    ASSERT_EQ(rom.entries.size(), 2u);
    EXPECT_TRUE(rom.entries[0].empty());
}

}  // namespace
