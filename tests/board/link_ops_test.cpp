// The window's link operations in the core: the port list, connecting and
// disconnecting through it, and the ROM button's refusals and transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../sim/sim_process.h"
#include "board_sim.h"
#include "conversion.h"
#include "scripted_port.h"

using quenlo::DialogState;
using quenlo::SerialDevice;

namespace {

using Lines = std::vector<std::string>;

const std::string kExamples = QUENLO_EXAMPLES_DIR;

// The console and the controls the link operations touch, in one record.
class WindowUi : public board_test::RecordingUi {
  public:
    bool Confirm(std::string_view caption, std::string_view text) override {
        lines.push_back("[" + std::string(caption) + ": " + std::string(text) + "]");
        return yes;
    }
    void SetPortEntry0(std::string_view caption) override {
        lines.push_back("[entry 0 " + std::string(caption) + "]");
    }
    void SelectPortEntry(int index) override {
        lines.push_back("[select " + std::to_string(index) + "]");
    }
    void ShowLinkSpeeds(int serial, int servo) override {
        lines.push_back("[speeds " + std::to_string(serial) + " " + std::to_string(servo) + "]");
    }
    void ShowProgress(size_t done, size_t total) override { progress.push_back({done, total}); }

    // Console text since the last call, with the lines the port list builds
    // from several pieces joined.
    std::string Take() {
        std::string text;
        for (const std::string& l : lines) text += l;
        lines.clear();
        return text;
    }
    bool yes = true;
    std::vector<std::pair<size_t, size_t>> progress;
};

TEST(PortScan, LogsEveryDeviceOnceAndListsTheNamedPorts) {
    std::vector<SerialDevice> devices = {
        {"Communications Port", "Communications Port (ttyS0)"},
        {"", "Unreadable (ttyS1)"},  // no description: skipped, its number used
        {"USB Root Hub", ""},
        {"Broken", "Broken (ttyUSB9"},
        {"FT232R USB UART", "FT232R USB UART (ttyUSB0)"},
        {"CP2102 (Silicon Labs)", "CP2102 (Silicon Labs) (ttyUSB1)"},
        {"Long", "Long (" + std::string(32, 'n') + ")"},
    };
    quenlo::PortScan scan([&] { return devices; });
    WindowUi ui;
    EXPECT_EQ(scan.ListPorts(ui), (Lines{"ttyS0", "ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(ui.Take(),
              "0 : Communications Port [ Communications Port (ttyS0) ]\r\n"
              "2 : USB Root Hub\r\n"
              "3 : Broken [ Broken (ttyUSB9 ]\r\n"
              "4 : FT232R USB UART [ FT232R USB UART (ttyUSB0) ]\r\n"
              "5 : CP2102 (Silicon Labs) [ CP2102 (Silicon Labs) (ttyUSB1) ]\r\n"
              "6 : Long [ Long (" +
                  std::string(32, 'n') + ") ]\r\n");

    // Opening the list again: one adapter unplugged, another plugged in.
    devices.erase(devices.begin() + 4);
    devices.insert(devices.begin() + 1, {"FT231X USB UART", "FT231X USB UART (ttyUSB2)"});
    EXPECT_EQ(scan.ListPorts(ui), (Lines{"ttyUSB2"}));
    EXPECT_EQ(ui.Take(), "1 : FT231X USB UART [ FT231X USB UART (ttyUSB2) ]\r\n");
    EXPECT_TRUE(scan.ListPorts(ui).empty());
    EXPECT_EQ(ui.Take(), "");
}

// quenlo-sim at each serial speed: the link finds it (at 1250000 only with the
// second search), entry 0 becomes the disconnect entry and the speed lists show
// the image's fields; entry 0 closes the link again.
class SelectPortAtSpeed : public testing::TestWithParam<int> {};

TEST_P(SelectPortAtSpeed, ConnectsShowsTheSpeedAndDisconnects) {
    const int speed = GetParam();
    quenlo::sim::test::SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({"--speed-index", std::to_string(speed)});
    ASSERT_FALSE(pty.empty());
    quenlo::LogCapture quiet;
    DialogState state;
    WindowUi ui;
    quenlo::SelectPort(ui, state, 1, pty);
    EXPECT_EQ(ui.Take(),
              pty + " 接続成功\r\n[entry 0 切断][speeds " + std::to_string(speed) + " 0]");
    EXPECT_EQ(state.m_nLinkSpeed, speed);
    EXPECT_FALSE(state.m_bLinkBusy);

    quenlo::SelectPort(ui, state, 0, "切断");
    EXPECT_EQ(ui.Take(), "[entry 0 未接続]切断しました\r\n");
    EXPECT_EQ(state.m_nLinkSpeed, -1);
    EXPECT_EQ(state.m_pUsbIO, nullptr);
    quenlo::SelectPort(ui, state, 0, "未接続");  // nothing open: nothing to do
    EXPECT_EQ(ui.Take(), "");
}

INSTANTIATE_TEST_SUITE_P(Speeds, SelectPortAtSpeed, testing::Values(0, 1, 2));

TEST(SelectPort, FailedSwitchClosesTheLinkAndBusyLinkRefuses) {
    quenlo::sim::test::SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({});
    ASSERT_FALSE(pty.empty());
    quenlo::LogCapture quiet;
    DialogState state;
    WindowUi ui;
    quenlo::SelectPort(ui, state, 1, pty);
    ASSERT_EQ(state.m_nLinkSpeed, 0);
    ui.Take();

    // Connecting elsewhere closed the old port first: the link is gone.
    const std::string missing = "/nonexistent/ttyQUENLO";
    quenlo::SelectPort(ui, state, 2, missing);
    EXPECT_EQ(ui.Take(), missing + " 接続失敗\r\n[entry 0 未接続][select 0]");
    EXPECT_EQ(state.m_nLinkSpeed, -1);
    EXPECT_NE(state.m_pUsbIO, nullptr);  // kept for the next attempt
    quenlo::SelectPort(ui, state, 0, "未接続");
    EXPECT_EQ(ui.Take(), "");

    // A failed first attempt leaves entry 0 as it is; an empty name is no port.
    DialogState fresh;
    quenlo::SelectPort(ui, fresh, 1, missing);
    EXPECT_EQ(ui.Take(), missing + " 接続失敗\r\n[select 0]");
    quenlo::SelectPort(ui, fresh, 1, "");
    EXPECT_EQ(ui.Take(), "[select 0]");

    // Playback or other link work holds the link: nothing changes.
    for (std::atomic<bool>* flag : {&state.m_bPlaying, &state.m_bLinkBusy}) {
        *flag = true;
        quenlo::SelectPort(ui, state, 1, pty);
        quenlo::SelectPort(ui, state, 0, "");
        EXPECT_EQ(ui.Take(), "操作は無効です\r\n操作は無効です\r\n");
        *flag = false;
    }
    EXPECT_EQ(state.m_nLinkSpeed, -1);
}

// The ROM button: each refusal in its order, the question, then the transfer
// on the link with its progress; the state is as before, the link free again.
TEST(TransferToRom, RefusesInOrderAsksAndShowsTheBytesWritten) {
    quenlo::LogCapture quiet;
    DialogState state;
    WindowUi ui;
    auto press = [&] { return quenlo::TransferToRom(ui, state, 2, 2, 3); };
    EXPECT_FALSE(press());
    EXPECT_EQ(ui.Take(), "RCB-4HVと通信が確立していません\r\n");
    state.m_nLinkSpeed = 0;
    state.m_bLinkBusy = true;
    EXPECT_FALSE(press());
    EXPECT_EQ(ui.Take(), "操作は無効です\r\n");
    state.m_bLinkBusy = false;
    state.m_bPlaying = true;
    EXPECT_FALSE(press());
    EXPECT_EQ(ui.Take(), "モーション再生中です\r\n");
    state.m_bPlaying = false;
    EXPECT_FALSE(press());
    EXPECT_EQ(ui.Take(), "データ変換されていません\r\n");

    state.m_pDataInfo = quenlo::RunConversion(ui, kExamples + "/robot.bac",
                                              {kExamples + "/bow.tra", kExamples + "/wave.tra"}, 3);
    ASSERT_NE(state.m_pDataInfo, nullptr);
    state.m_bConverted = true;
    ui.Take();
    ui.yes = false;
    EXPECT_FALSE(press());
    EXPECT_EQ(ui.Take(), "[確認: ROMへ転送しますか？]転送しません\r\n");
    ui.yes = true;
    EXPECT_FALSE(press());  // open speed but no link object
    EXPECT_EQ(ui.Take(), "[確認: ROMへ転送しますか？]転送が中断しました\r\n");
    EXPECT_TRUE(ui.progress.empty());

    quenlo::sim::BoardSim board;
    state.m_pUsbIO = std::make_unique<CUsbIO>(std::make_unique<quenlo::sim::SimSerialPort>(board));
    state.m_pUsbIO->OpenPort("sim");
    EXPECT_TRUE(press());
    const std::string console = ui.Take();
    EXPECT_EQ(console.substr(0, console.find("初期設定")),
              "[確認: ROMへ転送しますか？]転送をはじめます\r\n");
    EXPECT_NE(console.find("このツールを終了してください\r\n"), std::string::npos);
    EXPECT_FALSE(state.m_bLinkBusy);
    EXPECT_TRUE(state.m_bConverted);
    EXPECT_EQ(board.reboot_count(), 1);

    // Writing, then reading back: each from nothing to all of it, never backwards.
    ASSERT_GE(ui.progress.size(), 3u);
    const size_t total = ui.progress.front().second;
    EXPECT_EQ(ui.progress.front().first, 0u);
    const auto written_all =
        std::find(ui.progress.begin(), ui.progress.end(), std::make_pair(total, total));
    ASSERT_NE(written_all, ui.progress.end());
    const size_t phase_end = static_cast<size_t>(written_all - ui.progress.begin()) + 1;
    EXPECT_EQ(ui.progress.back().first, ui.progress.back().second);
    for (size_t i = 1; i < ui.progress.size(); ++i) {
        if (i != phase_end) {
            EXPECT_LE(ui.progress[i - 1].first, ui.progress[i].first) << i;
        }
    }
    size_t written = 0;
    for (uint32_t a = 0; a < board.rom().size(); ++a) written += board.RomWritten(a);
    EXPECT_EQ(total, written);
}

}  // namespace
