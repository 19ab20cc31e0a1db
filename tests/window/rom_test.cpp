// The ROM menu against quenlo-sim: the board's ROM saved in a file, a backup
// before a transfer, a saved file written back, and the progress bar's parts.
#include <QProgressBar>
#include <filesystem>
#include <fstream>

#include "sim_process.h"
#include "usbio.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using quenlo::sim::test::ReadFile;
using quenlo::sim::test::SimProcess;
using quenlo::sim::test::TempDir;
using Bytes = std::vector<uint8_t>;

class RomTest : public WindowTest {
  protected:
    // A board whose ROM holds `before_`, a pattern over the whole layout; it
    // keeps its ROM in final.bin when it stops.
    std::string Board(SimProcess& sim, std::vector<std::string> args) {
        before_.resize(quenlo::board::RomLayoutEnd());
        for (size_t i = 0; i < before_.size(); ++i) before_[i] = uint8_t(i * 7 + i / 251);
        std::ofstream(dir_ / "initial.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(before_.data()), std::streamsize(before_.size()));
        for (const char* arg : {"--rom-in", "initial.bin", "--rom-out", "final.bin"})
            args.push_back(std::string(arg).ends_with(".bin") ? dir_ / arg : arg);
        const std::string pty = sim.Start(args);
        EXPECT_FALSE(pty.empty());
        return pty;
    }
    void ConvertAndConnect(const std::string& pty) {
        for (const char* name : {"robot.bac", "bow.tra"})
            std::filesystem::copy_file(kExamples + "/" + name, dir_ / name);
        ASSERT_TRUE(DropTra({dir_ / "bow.tra"}));
        ASSERT_TRUE(DropBac({dir_ / "robot.bac"}));
        dlg_->SelectPort(-1, pty);
        ASSERT_TRUE(WaitForLink());
        ASSERT_TRUE(LinkOpen());
    }
    // The ROM button's context menu: its items, the one named triggered.
    std::vector<std::string> RomMenu(const std::string& item) {
        QWidget* rom = Ctl(1003);
        return ChooseFromContextMenu(rom, rom->rect().center(), item);
    }
    // The progress bar's parts as they go: each name when it shows empty and
    // when it is full ("" once the work has ended).
    void RecordProgress() {
        auto* bar = dlg_->findChild<QProgressBar*>("romProgress");
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar](int value) {
            if (value != 0 && value != bar->maximum()) return;
            const std::string seen =
                bar->format().toStdString() + (value == 0 ? " empty" : " full");
            if (phases_.empty() || phases_.back() != seen) phases_.push_back(seen);
        });
    }
    Bytes Start(size_t n) { return Bytes(before_.begin(), before_.begin() + std::ptrdiff_t(n)); }

    TempDir dir_;
    Bytes before_;
    std::vector<std::string> phases_;
};

// Saved, transferred over with a backup first, written back: the board's ROM
// is as it was, and the window closes when the session ends after the restore.
TEST_F(RomTest, SaveTransferWithBackupAndRestoreLeaveTheRomAsItWas) {
    SimProcess sim(QUENLO_SIM_PROGRAM);
    ConvertAndConnect(Board(sim, {}));
    RecordProgress();

    size_t mark = Console().size();
    AnswerNextFileDialog({dir_ / "saved.bin"});
    EXPECT_EQ(RomMenu("ROMをファイルに保存..."),
              (std::vector<std::string>{"ROMをファイルに保存...", "ファイルからROMへ書き戻す...",
                                        "転送前にバックアップを保存"}));
    ASSERT_TRUE(WaitForLink());
    EXPECT_EQ(ConsoleSince(mark),
              "ROMを保存します: " + dir_ / "saved.bin" + "\nバックアップ中\nバックアップOK\n");
    EXPECT_EQ(ReadFile(dir_ / "saved.bin"), before_);

    // With the check item, the ROM the transfer overwrites is kept first.
    RomMenu("転送前にバックアップを保存");
    mark = Console().size();
    phases_.clear();
    AnswerNextQuestion(QMessageBox::Yes);
    AnswerNextFileDialog({dir_ / "overwritten.bin"});
    Ctl<QPushButton>(1003)->click();
    ASSERT_TRUE(WaitForLink());
    const std::string lines = ConsoleSince(mark);
    EXPECT_EQ(lines.rfind("転送をはじめます\nバックアップ中\nバックアップOK\n", 0), 0u) << lines;
    EXPECT_TRUE(lines.ends_with("このツールを終了してください\n")) << lines;
    const Bytes overwritten = ReadFile(dir_ / "overwritten.bin");
    ASSERT_GT(overwritten.size(), size_t{quenlo::board::kRomMotionBase});
    EXPECT_EQ(overwritten, Start(overwritten.size()));
    EXPECT_EQ(phases_,
              (std::vector<std::string>{"バックアップ %p% empty", "バックアップ %p% full",
                                        "書き込み %p% empty", "書き込み %p% full",
                                        "ベリファイ %p% empty", "ベリファイ %p% full", " empty"}));
    const auto* bar = dlg_->findChild<QProgressBar*>("romProgress");
    EXPECT_FALSE(bar->isTextVisible());

    // Written back after a question: "いいえ" writes nothing, "はい" the file.
    std::vector<std::string> asked;
    mark = Console().size();
    AnswerNextFileDialog({dir_ / "saved.bin"});
    AnswerNextQuestion(QMessageBox::No, &asked);
    RomMenu("ファイルからROMへ書き戻す...");
    EXPECT_EQ(ConsoleSince(mark), "転送しません\n");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].rfind(dir_ / "saved.bin (" + std::to_string(before_.size()) + " バイト)", 0),
              0u)
        << asked[0];
    EXPECT_TRUE(Enabled(1001) && Enabled(1003)) << "nothing holds the link";

    mark = Console().size();
    phases_.clear();
    AnswerNextFileDialog({dir_ / "saved.bin"});
    AnswerNextQuestion(QMessageBox::Yes);
    RomMenu("ファイルからROMへ書き戻す...");
    // The session ends meanwhile: the window stays until the board has it all.
    ASSERT_TRUE(dlg_->LinkWorkRunning());
    EXPECT_TRUE(dlg_->SessionEnding());
    ASSERT_TRUE(WaitFor([this] { return !dlg_->isVisible(); }, 60000));
    EXPECT_EQ(ConsoleSince(mark),
              "転送をはじめます\nROM転送が終わってから終了します\nROMイメージ " +
                  std::to_string(before_.size()) +
                  " バイト転送OK\nベリファイ中\nベリファイOK\n転送が終わりました\n"
                  "勝手に実行します\nこのツールを終了してください\n");
    EXPECT_EQ(phases_,
              (std::vector<std::string>{"書き込み %p% empty", "書き込み %p% full",
                                        "ベリファイ %p% empty", "ベリファイ %p% full", " empty"}));
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dir_ / "final.bin"), before_);
}

// A backup that cannot be made (the board answers no reads) stops the
// transfer before anything is written; the menu waits for a board.
TEST_F(RomTest, ATransferWhoseBackupFailsWritesNothing) {
    EXPECT_EQ(RomMenu(""),
              (std::vector<std::string>{"-ROMをファイルに保存...", "-ファイルからROMへ書き戻す...",
                                        "転送前にバックアップを保存"}));
    SimProcess sim(QUENLO_SIM_PROGRAM);
    ConvertAndConnect(Board(sim, {"--no-read"}));
    EXPECT_EQ(RomMenu("転送前にバックアップを保存").size(), 3u);
    const size_t mark = Console().size();
    AnswerNextQuestion(QMessageBox::Yes);
    AnswerNextFileDialog({dir_ / "kept.bin"});
    Ctl<QPushButton>(1003)->click();
    ASSERT_TRUE(WaitForLink());
    const std::string lines = ConsoleSince(mark);  // the read's diagnostic between
    EXPECT_EQ(lines.rfind("転送をはじめます\nバックアップ中\n", 0), 0u) << lines;
    EXPECT_TRUE(lines.ends_with("バックアップできませんでした\n転送しません\n")) << lines;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "kept.bin"));
    EXPECT_TRUE(Enabled(1003));
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dir_ / "final.bin"), before_);
    // Idle, the session's end closes the window at once.
    EXPECT_FALSE(dlg_->SessionEnding());
    EXPECT_FALSE(dlg_->isVisible());
}

}  // namespace
}  // namespace window_test
