// The main window's conversion job: console lines, time scale, and the ROM
// content that maps motion-list entries to their records.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

// Each test gets its own folder of files, console and log.
class ConversionJob : public ::testing::Test {
  protected:
    std::string dir = TempFolder();
    std::string bac = WriteBac(dir + "robot.bac", {{"body"}, {"a(ID-00)"}, {"b(OD-01R)"}});
    std::string m0 = WriteTra(dir + "m0.tra", MakeMotion({0, 10, 15}, {"body", "a", "b"}));
    std::string m1 = WriteTra(dir + "m1.tra", MakeMotion({0, 100}, {"a"}));
    std::string none = WriteTra(dir + "none.tra", MakeMotion({0, 10}, {"body", "ghost"}));
    RecordingUi ui;
    quenlo::LogCapture log;
};

TEST_F(ConversionJob, ValidRunPrintsEveryStepAndAppliesTheRate) {
    auto data = quenlo::RunConversion(ui, bac, {m0, m1}, 6);  // "45": time scale 3
    ASSERT_NE(data, nullptr);
    // m1's second key is 100 units (300 frames) after its first: held at 255.
    EXPECT_EQ(
        ui.console,
        "BAC解析中\r\nTRA#0解析中\r\nTRA#1解析中\r\n再生レート設定\r\nコマンド生成\r\n警告: " + m1 +
            ": キー100まで300フレームあり、255フレームで動かします\r\n"
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
    EXPECT_EQ(data->GetFrameCommand(1, 1)[7], 255);
}

TEST_F(ConversionJob, ChecksTheModelFieldFirstThenTheMotionList) {
    EXPECT_EQ(quenlo::Convert(ui, "", {}, 3), nullptr);
    EXPECT_EQ(quenlo::Convert(ui, "robot.tra", {m0}, 3), nullptr);
    EXPECT_EQ(quenlo::Convert(ui, bac, {}, 3), nullptr);
    EXPECT_EQ(ui.console,
              "BACファイルがありません\r\nBACファイルがありません\r\nTRAファイルがありません\r\n");
    EXPECT_TRUE(ui.busy_calls.empty());

    // Only the field's first line counts, and the ending's case does not.
    const std::string upper = dir + "UPPER.BAC";
    ASSERT_EQ(std::rename(bac.c_str(), upper.c_str()), 0);
    ui.console.clear();
    EXPECT_NE(quenlo::Convert(ui, upper + "\r\nsecond line", {m0}, 3), nullptr);
    EXPECT_EQ(ui.console.rfind("BAC解析中\r\n", 0), 0u);
}

TEST_F(ConversionJob, AfterADropMissingInputsAreSilent) {
    EXPECT_EQ(quenlo::TryAutoConversion(ui, "", {m0}, 3), nullptr);
    EXPECT_EQ(quenlo::TryAutoConversion(ui, bac, {}, 3), nullptr);
    EXPECT_EQ(ui.console, "");
    EXPECT_NE(quenlo::TryAutoConversion(ui, bac, {m0}, 3), nullptr);
}

TEST_F(ConversionJob, NoRateLeavesTheTimeScaleUnset) {
    auto data = quenlo::RunConversion(ui, bac, {m0}, -1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->mof_data()->motions()[0].time_scale, 1);
    EXPECT_EQ(data->GetFrameCommand(0, 1)[7], 10);
    data = quenlo::RunConversion(ui, bac, {m0}, 9);
    EXPECT_EQ(data->mof_data()->motions()[0].time_scale, 1);
}

TEST_F(ConversionJob, AFileThatDoesNotConvertIsNamedAndLeavesNoConversion) {
    const std::string bad_bac = dir + "bad.bac", bad_tra = dir + "bad.tra";
    std::ofstream(bad_bac) << ";BAC\n(bacVersion 5)\n";
    std::ofstream(bad_tra) << ";TRA\n(traVersion 5)\n";
    const std::string not_tra = "\r\n↑有効なTRA4ファイルではありません\r\n";
    struct Case {
        std::string bac;
        std::vector<std::string> motions;
        std::string console;
    };
    // When the system is the reason, one more line says which.
    const std::string missing = dir + "missing.bac", folder = dir + "folder.tra";
    const std::string fifo = dir + "fifo.tra";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Case cases[] = {
        {bad_bac, {m0}, "BAC解析中\r\n" + bad_bac + "\r\n↑有効なBAC6ファイルではありません\r\n"},
        {bac, {m0, bad_tra, m1}, "BAC解析中\r\nTRA#0解析中\r\nTRA#1解析中\r\n" + bad_tra + not_tra},
        {missing,
         {m0},
         "BAC解析中\r\n" + missing + "\r\n↑有効なBAC6ファイルではありません\r\n" + missing +
             " を読めません: No such file or directory\r\n"},
        {bac,
         {folder},
         "BAC解析中\r\nTRA#0解析中\r\n" + folder + not_tra + folder +
             " を読めません: a directory\r\n"},
        {bac,
         {fifo},
         "BAC解析中\r\nTRA#0解析中\r\n" + fifo + not_tra + fifo +
             " を読めません: not a regular file\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.console);
        RecordingUi run_ui;
        EXPECT_EQ(quenlo::RunConversion(run_ui, c.bac, c.motions, 3), nullptr);
        EXPECT_EQ(run_ui.console, c.console);
        EXPECT_EQ(run_ui.busy_calls, (std::vector<bool>{true, false}));
    }
}

TEST_F(ConversionJob, AnIndexErrorOfALibraryEndsTheConversionOnly) {
    ui.preview_throws = true;
    EXPECT_EQ(quenlo::RunConversion(ui, bac, {m1}, 3), nullptr);
    EXPECT_TRUE(ui.console.ends_with(
        "ビューデータ生成\r\n<preview>変換中にエラーが発生しました (bone 7 of 3)\r\n"));
    EXPECT_EQ(ui.busy_calls, (std::vector<bool>{true, false}));
}

TEST_F(ConversionJob, MotionWithoutValuesHasNoRecordAndRomContentMapsByNumber) {
    auto data = quenlo::RunConversion(ui, bac, {m0, none, m1}, 3);
    ASSERT_NE(data, nullptr);
    // Still a success, with a word on the motion that gives nothing to play.
    EXPECT_NE(ui.console.find("コマンド生成\r\n警告: " + none +
                              ": モデルのサーボを動かすボーンがなく、コマンドがありません\r\n"
                              "ビューデータ生成\r\n"),
              std::string::npos)
        << ui.console;
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

TEST_F(ConversionJob, AModelWithoutServosIsStillASuccessWithAWarning) {
    const std::string plain = WriteBac(dir + "plain.bac", {{"body"}, {"a"}});
    auto data = quenlo::RunConversion(ui, plain, {m1}, 3);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(
        ui.console,
        "BAC解析中\r\n警告: モデルにサーボのボーンがありません\r\nTRA#0解析中\r\n再生レート設定\r\n"
        "コマンド生成\r\n警告: " +
            m1 +
            ": モデルのサーボを動かすボーンがなく、コマンドがありません\r\n"
            "ビューデータ生成\r\n<preview>変換成功\r\n");
}

TEST(MakeRomContent, NoMotorsBeforeTheModelIsRead) {
    CDataInfo empty;
    const quenlo::RomContent rom = quenlo::MakeRomContent(empty, 2, 100);
    EXPECT_TRUE(rom.motors.empty());
    ASSERT_EQ(rom.entries.size(), 2u);
    EXPECT_TRUE(rom.entries[0].empty());
}

}  // namespace
