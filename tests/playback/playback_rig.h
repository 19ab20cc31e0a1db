// A converted model and its motions, a simulated board on a manual clock, and
// a window that answers the playback's questions and keeps what it was told.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "../conversion/test_files.h"
#include "board_sim.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "usbio.h"

namespace playback_test {

using Bytes = std::vector<uint8_t>;

// The window: lists and boxes as set here; every control change is kept as
// "Play=中止", "PlayAll:off" and so on. The live thread and the preview both
// call it, so what it keeps is locked.
class PlayUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view text) override {
        {
            const std::lock_guard lock(mutex);
            console.append(text);
        }
        if (on_console) on_console();
    }
    bool Confirm(std::string_view, std::string_view) override { return true; }
    void SetBusy(bool) override {}
    int SelectedMotion() override { return selected; }
    int MotionCount() override { return count; }
    int RateIndex() override { return rate; }
    int IntervalIndex() override { return interval; }
    // Checked for the first `loop_passes` questions.
    bool LoopChecked() override {
        const std::lock_guard lock(mutex);
        return loop_asked++ < loop_passes;
    }
    void EnableControl(quenlo::Control c, bool enable) override {
        if (enable && (c == quenlo::Control::Play || c == quenlo::Control::PlayAll) &&
            on_stop_button)
            on_stop_button();
        const std::lock_guard lock(mutex);
        controls.push_back(Name(c) + (enable ? ":on" : ":off"));
    }
    void SetCaption(quenlo::Control c, std::string_view caption) override {
        const std::lock_guard lock(mutex);
        controls.push_back(Name(c) + "=" + std::string(caption));
    }

    static std::string Name(quenlo::Control c) {
        static const char* const names[] = {"Play", "PlayAll", "Up",   "Down", "List",
                                            "Bac",  "Delete",  "Port", "Rate"};
        return names[static_cast<int>(c)];
    }

    int selected = -1;
    int count = 2;
    int rate = quenlo::kDefaultRate;
    int interval = 0;
    int loop_passes = 0;
    int loop_asked = 0;
    std::mutex mutex;  // over what follows while a playback runs
    std::string console;
    std::vector<std::string> controls;
    // Called when the pressed button is enabled as the stop button (and again
    // when the controls are given back).
    std::function<void()> on_stop_button;
    std::function<void()> on_console;  // after each console write
};

// A manual clock whose sleeps wake up late, and that can act at a deadline.
class TestClock : public quenlo::ManualClock {
  public:
    void SleepMs(uint32_t ms) override {
        ManualClock::SleepMs(ms);
        AdvanceUs(late_us);
    }
    void SleepUntilUs(uint64_t deadline_us) override {
        ManualClock::SleepUntilUs(deadline_us);
        AdvanceUs(late_us);
        if (on_deadline) on_deadline(deadlines().size());
    }
    uint64_t late_us = 0;
    std::function<void(size_t)> on_deadline;  // with the number of deadlines so far
};

// A model with two servos; motion 0 has five commands of 1, 2, 3, 1 and 4
// frames, motion 1 two of 1 and 4.
struct TestFiles {
    std::string dir = conversion_test::TempFolder();
    std::string bac =
        conversion_test::WriteBac(dir + "robot.bac", {{"body"}, {"a(ID-00)"}, {"b(OD-01R)"}});
    std::vector<std::string> motions = {
        conversion_test::WriteTra(dir + "m0.tra",
                                  conversion_test::MakeMotion({0, 2, 5, 6, 10}, {"a", "b"})),
        conversion_test::WriteTra(dir + "m1.tra", conversion_test::MakeMotion({0, 4}, {"a"}))};
};

// Commands of a motion-list entry, as converted.
inline std::vector<Bytes> CommandsOf(const CDataInfo& data, int entry) {
    std::vector<Bytes> out;
    const int index = data.FindMotion(entry);
    for (int j = 0; j < data.GetFrameCount(index); ++j) {
        const uint8_t* c = data.GetFrameCommand(index, j);
        out.emplace_back(c, c + c[0]);
    }
    return out;
}

struct Rig {
    explicit Rig(int rate = quenlo::kDefaultRate) {
        state.m_pDataInfo = quenlo::RunConversion(ui, files.bac, files.motions, rate);
        EXPECT_TRUE(state.m_pDataInfo);
        ui.console.clear();
        ui.rate = rate;
        state.m_pUsbIO = std::make_unique<CUsbIO>(
            std::make_unique<quenlo::sim::SimSerialPort>(board, &clock), clock);
        state.m_nLinkSpeed = state.m_pUsbIO->Connect("sim");
        EXPECT_EQ(state.m_nLinkSpeed, 0);
        ui.on_stop_button = [this] {
            if (played_from < 0) played_from = static_cast<int>(board.frames().size());
        };
    }

    // Play (or Play all) as the buttons start it, on this thread; stop is
    // its stop request.
    quenlo::PlaybackResult Play(bool play_all) {
        played_from = -1;
        stop = std::stop_source();
        EXPECT_EQ(quenlo::StartPlayback(ui, state), quenlo::PlaybackStart::Live);
        const quenlo::PlaybackResult result = quenlo::PlayMotions(
            ui, state, quenlo::ReadPlaybackSettings(ui, play_all), stop.get_token(), pacing);
        quenlo::EndPlayback(state);
        return result;
    }

    std::vector<Bytes> Commands(int entry) const { return CommandsOf(*state.m_pDataInfo, entry); }

    // What reached the board after the set-up (the playback's commands and the
    // release), and when, in microseconds of the clock.
    std::vector<Bytes> Played() const {
        std::vector<Bytes> out;
        for (size_t i = played_from < 0 ? 0 : played_from; i < board.frames().size(); ++i)
            out.push_back(board.frames()[i].bytes);
        return out;
    }
    std::vector<uint64_t> PlayedAt() const {
        std::vector<uint64_t> out;
        for (size_t i = played_from < 0 ? 0 : played_from; i < board.frames().size(); ++i)
            out.push_back(board.frames()[i].t_us);
        return out;
    }
    // The system register image written just before the motions.
    uint16_t PlaybackRegister() const {
        const Bytes& f = board.frames().at(static_cast<size_t>(played_from) - 1).bytes;
        EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (Bytes{0x09, 0x00, 0x02, 0x00, 0x00, 0x00}));
        return static_cast<uint16_t>(f[6] | f[7] << 8);
    }

    quenlo::LogCapture log;  // the link's hex dumps and failures
    TestFiles files;
    TestClock clock;
    quenlo::sim::BoardSim board;
    quenlo::DialogState state;
    PlayUi ui;
    quenlo::Pacing pacing = quenlo::Pacing::Chained;
    std::stop_source stop;
    int played_from = -1;  // first frame after the set-up
};

// The release at the end: the image to RAM address 0, then every servo free.
inline bool IsRelease(const Bytes& ram_write, const Bytes& free_all) {
    return ram_write.size() == 9 && ram_write[1] == 0x00 && ram_write[2] == 0x02 &&
           ram_write[3] == 0 && ram_write[4] == 0 && free_all.size() == 79 && free_all[1] == 0x10 &&
           free_all[7] == 1 && free_all[8] == 0x00 && free_all[9] == 0x80;
}

}  // namespace playback_test
