// Live playback against the simulated board on a manual clock: console lines,
// the bytes and their order on the line, due times, loop, stop and faults.
#include <gtest/gtest.h>

#include <numeric>

#include "playback_rig.h"

using playback_test::Bytes;
using playback_test::IsRelease;
using playback_test::Rig;

namespace {

constexpr uint64_t kMs = 1000;

// Times each command of `commands` is due after the first, at `period_ms`.
std::vector<uint64_t> DueTimes(uint64_t start, const std::vector<Bytes>& commands, int period_ms) {
    std::vector<uint64_t> due;
    for (const Bytes& c : commands) {
        due.push_back(start);
        start += c[7] * period_ms * kMs;
    }
    return due;
}

std::vector<Bytes> Join(std::initializer_list<std::vector<Bytes>> parts) {
    std::vector<Bytes> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const std::vector<std::string> kLocked = {"PlayAll:off", "Play:off", "Up:off",
                                          "Down:off",    "List:off", "Bac:off",
                                          "Delete:off",  "Port:off", "Rate:off"};

std::vector<std::string> Controls(const char* pressed, const char* caption) {
    std::vector<std::string> out = kLocked;
    out.push_back(std::string(pressed) + "=中止");
    out.push_back(std::string(pressed) + ":on");
    for (std::string c : kLocked) out.push_back(c.replace(c.find(":off"), 4, ":on"));
    out.push_back(std::string(pressed) + "=" + caption);
    return out;
}

// Writes to the servo table: only the full set-up makes them.
int ServoTableWrites(const quenlo::sim::BoardSim& board) {
    int n = 0;
    for (const auto& f : board.frames())
        n += f.bytes.size() > 6 && f.bytes[2] == 0x02 && f.bytes[3] == 0x44 && f.bytes[4] == 0;
    return n;
}

TEST(Playback, PlaysTheSelectedMotionThenMotionZeroWithoutASelection) {
    Rig rig;
    rig.ui.selected = 1;
    const quenlo::PlaybackResult first = rig.Play(false);
    EXPECT_TRUE(first.started);
    EXPECT_EQ(first.failed_exchanges, 0);
    EXPECT_EQ(rig.ui.console,
              "RCB-4HV初期化中\r\nモーション #1 再生\r\n モーターコマンド数 2\r\n"
              " frame=5 time=0\"12\r\n end 0\"12\r\nモーター解放中\r\nモーション再生終了\r\n");
    std::vector<Bytes> played = rig.Played();
    ASSERT_EQ(played.size(), 4u);
    EXPECT_EQ(Join({rig.Commands(1)}), std::vector<Bytes>(played.begin(), played.end() - 2));
    EXPECT_TRUE(IsRelease(played[2], played[3]));
    EXPECT_EQ(rig.ui.controls, Controls("Play", "再生"));
    EXPECT_FALSE(rig.state.m_bPlaying);
    EXPECT_TRUE(rig.state.m_bBoardReady);
    EXPECT_EQ(rig.state.m_nCommandIndex, 1);  // handed to the preview, flag raised
    EXPECT_TRUE(rig.state.m_bCommandSent);
    EXPECT_EQ(ServoTableWrites(rig.board), 1);

    // The board is set up once: later playbacks only reset the motors.
    rig.ui.selected = -1;
    rig.ui.console.clear();
    rig.Play(false);
    EXPECT_EQ(rig.ui.console.substr(0, rig.ui.console.find(" frame")),
              "モーターリセット中\r\nモーション #0 再生\r\n モーターコマンド数 5\r\n");
    played = rig.Played();
    ASSERT_EQ(played.size(), 7u);
    EXPECT_EQ(rig.Commands(0), std::vector<Bytes>(played.begin(), played.end() - 2));
    EXPECT_EQ(ServoTableWrites(rig.board), 1);

    // A set-up that did not reach the board whole is made again next time.
    Rig refused;
    refused.board.options().nack_at = refused.board.frame_count() + 3;
    refused.Play(false);
    EXPECT_FALSE(refused.state.m_bBoardReady);
    refused.ui.console.clear();
    refused.Play(false);
    EXPECT_EQ(refused.ui.console.rfind("RCB-4HV初期化中\r\n", 0), 0u);
    EXPECT_TRUE(refused.state.m_bBoardReady);
}

TEST(Playback, PlayAllPausesForTheTransitionBetweenMotionsOnly) {
    Rig rig;
    rig.ui.interval = 2;  // 500 ms
    rig.Play(true);
    const std::vector<Bytes> played = rig.Played();
    const std::vector<Bytes> m0 = rig.Commands(0), m1 = rig.Commands(1);
    ASSERT_EQ(played.size(), m0.size() + m1.size() + 2);
    EXPECT_EQ(Join({m0, m1}), std::vector<Bytes>(played.begin(), played.end() - 2));

    // Motion 0 is 11 frames of 25 ms; motion 1 is due 500 ms after its end,
    // and the release follows motion 1's last frame at once.
    const std::vector<uint64_t> at = rig.PlayedAt();
    const uint64_t t0 = at[0];
    std::vector<uint64_t> due = DueTimes(t0, m0, 25);
    const std::vector<uint64_t> due1 = DueTimes(t0 + 275 * kMs + 500 * kMs, m1, 25);
    due.insert(due.end(), due1.begin(), due1.end());
    due.push_back(t0 + 900 * kMs);
    due.push_back(t0 + 900 * kMs);
    EXPECT_EQ(at, due);
    EXPECT_EQ(rig.ui.console,
              "RCB-4HV初期化中\r\nモーション #0 再生\r\n モーターコマンド数 5\r\n"
              " frame=11 time=0\"27\r\nモーション #1 再生\r\n モーターコマンド数 2\r\n"
              " frame=5 time=0\"12\r\n end 0\"90\r\nモーター解放中\r\nモーション再生終了\r\n");
    EXPECT_EQ(rig.ui.controls, Controls("PlayAll", "全再生"));
}

TEST(Playback, LoopRepeatsWithoutAPauseUntilTheBoxIsUnchecked) {
    Rig rig;
    rig.ui.selected = 1;
    rig.ui.interval = 3;
    rig.ui.loop_passes = 2;  // unchecked during the third pass
    rig.Play(false);
    const std::vector<Bytes> m0 = rig.Commands(0), m1 = rig.Commands(1);
    std::vector<Bytes> played = rig.Played();
    EXPECT_EQ(Join({m1, m1, m1}), std::vector<Bytes>(played.begin(), played.end() - 2));
    std::vector<uint64_t> at = rig.PlayedAt();
    EXPECT_EQ(at[2] - at[0], 125 * kMs);  // the next pass starts when this one ends
    EXPECT_EQ(rig.ui.loop_asked, 3);

    // Play all repeats the whole list, with the transition only within a pass.
    rig.ui.loop_asked = 0;
    rig.ui.loop_passes = 1;
    rig.Play(true);
    played = rig.Played();
    EXPECT_EQ(Join({m0, m1, m0, m1}), std::vector<Bytes>(played.begin(), played.end() - 2));
    at = rig.PlayedAt();
    EXPECT_EQ(at[5] - at[0], (275 + 1000) * kMs);
    EXPECT_EQ(at[7] - at[5], 125 * kMs);

    // An entry with nothing to play does not loop on its console lines.
    rig.ui.selected = 7;
    rig.ui.loop_asked = 0;
    rig.ui.loop_passes = 100;
    rig.ui.console.clear();
    rig.Play(false);
    EXPECT_EQ(rig.ui.loop_asked, 0);
    EXPECT_EQ(rig.ui.console,
              "モーターリセット中\r\nモーション #7 再生\r\n モーターコマンド数 0\r\n"
              " frame=0 time=0\"00\r\n end 0\"00\r\nモーター解放中\r\nモーション再生終了\r\n");
}

TEST(Playback, StopTakesEffectAfterTheCommandAndItsWait) {
    for (const bool play_all : {false, true}) {
        Rig rig;
        rig.clock.on_deadline = [&rig](size_t n) {
            if (n == 2) rig.stop.request_stop();
        };
        rig.Play(play_all);
        const std::vector<Bytes> played = rig.Played();
        const std::vector<Bytes> m0 = rig.Commands(0);
        ASSERT_EQ(played.size(), 4u);
        EXPECT_EQ(std::vector<Bytes>(m0.begin(), m0.begin() + 2),
                  std::vector<Bytes>(played.begin(), played.begin() + 2));
        EXPECT_TRUE(IsRelease(played[2], played[3]));
        // Commands 0 and 1 are 1 and 2 frames: the release comes after both.
        EXPECT_EQ(rig.PlayedAt()[2] - rig.PlayedAt()[0], 75 * kMs);
        EXPECT_EQ(rig.ui.console,
                  "RCB-4HV初期化中\r\nモーション #0 再生\r\n モーターコマンド数 5\r\n"
                  " frame=3 time=0\"07\r\n end 0\"07\r\nモーター解放中\r\nモーション再生終了\r\n");
        EXPECT_EQ(rig.ui.controls,
                  play_all ? Controls("PlayAll", "全再生") : Controls("Play", "再生"));
        EXPECT_FALSE(rig.state.m_bPlaying);
    }
}

TEST(Playback, RateSetsTheBoardsBasePeriod) {
    // "25": 25 ms frames at time scale 1; "45": 15 ms frames at time scale 3.
    for (const auto& [rate, code, period] : {std::tuple{3, 3, 25}, std::tuple{6, 1, 15}}) {
        Rig rig(rate);
        rig.Play(false);
        const uint16_t image = rig.PlaybackRegister();
        EXPECT_EQ((image >> 4) & 3, code) << rate;
        EXPECT_EQ(image & 0x0005, 0x0005) << rate;
        const std::vector<Bytes> m0 = rig.Commands(0);
        std::vector<uint64_t> at = rig.PlayedAt();
        at.resize(m0.size());
        EXPECT_EQ(at, DueTimes(at[0], m0, period)) << rate;
        EXPECT_EQ(m0[1][7], rate == 6 ? 6 : 2);
    }
}

TEST(Playback, DeadlinesChainSoLateWakeUpsDoNotAddUp) {
    // Every sleep wakes 1 ms late. Chained, each command is 1 ms late; paced
    // from each command's start, the lateness adds up.
    for (const quenlo::Pacing pacing :
         {quenlo::Pacing::Chained, quenlo::Pacing::FromCommandStart}) {
        Rig rig;
        rig.pacing = pacing;
        rig.clock.late_us = 1 * kMs;
        rig.Play(false);
        const std::vector<Bytes> m0 = rig.Commands(0);
        std::vector<uint64_t> at = rig.PlayedAt();
        at.resize(m0.size());
        std::vector<uint64_t> due = DueTimes(at[0], m0, 25);
        for (size_t j = 1; j < due.size(); ++j)
            due[j] += pacing == quenlo::Pacing::Chained ? kMs : j * kMs;
        EXPECT_EQ(at, due);
    }

    // Nor across the transition of Play all: the next motion starts when it is
    // due, not when the pause before it happened to end.
    Rig all;
    all.ui.interval = 2;
    all.clock.late_us = 1 * kMs;
    all.Play(true);
    const std::vector<Bytes> m0 = all.Commands(0), m1 = all.Commands(1);
    std::vector<uint64_t> at = all.PlayedAt();
    at.resize(m0.size() + m1.size());
    std::vector<uint64_t> due = DueTimes(at[0], m0, 25);
    const std::vector<uint64_t> due1 = DueTimes(at[0] + 775 * kMs, m1, 25);
    due.insert(due.end(), due1.begin(), due1.end());
    for (size_t j = 1; j < due.size(); ++j) due[j] += kMs;
    EXPECT_EQ(at, due);

    // A window slow to take the console lines before the first command makes
    // it late, but shortens no gap after it: the chain starts when it is sent.
    Rig slow_window;
    slow_window.ui.on_console = [&slow_window] { slow_window.clock.AdvanceUs(20 * kMs); };
    slow_window.Play(false);
    at = slow_window.PlayedAt();
    at.resize(m0.size());
    EXPECT_EQ(at, DueTimes(at[0], m0, 25));

    // An exchange that overruns its command's frames makes the next command
    // due at once, and the ones after it do not catch up.
    Rig slow;
    slow.board.options().reply_delay_ms = 40;
    slow.Play(false);
    at = slow.PlayedAt();
    for (uint64_t& t : at) t -= slow.PlayedAt()[0];
    EXPECT_EQ(std::vector<uint64_t>(at.begin(), at.begin() + 5),
              (std::vector<uint64_t>{0, 40 * kMs, 90 * kMs, 165 * kMs, 205 * kMs}));
}

TEST(Playback, ASilentBoardOrALostPortStopsThePlaybackAtOnce) {
    // The board falls silent, or the line drops, after the first command: the
    // second command is the last one tried, and no release is claimed.
    for (const bool hangup : {false, true}) {
        Rig rig;
        rig.ui.on_stop_button = [&rig, hangup] {
            if (rig.played_from >= 0) return;
            rig.played_from = static_cast<int>(rig.board.frames().size());
            (hangup ? rig.board.options().hangup_after : rig.board.options().silent_after) =
                rig.board.frame_count() + 1;
        };
        const quenlo::PlaybackResult result = rig.Play(false);
        EXPECT_TRUE(result.link_lost);
        EXPECT_EQ(result.failed_exchanges, 1);
        const std::string& c = rig.ui.console;
        const std::string stop =
            hangup ? "通信エラーのため再生を中止しました\r\n" : "ボードが応答しません\r\n";
        EXPECT_NE(c.find(" モーターコマンド数 5\r\n" + stop + " frame="), std::string::npos) << c;
        EXPECT_EQ(c.find("モーター解放中"), std::string::npos) << c;
        const std::string end = "\r\nモーション再生終了\r\n";
        EXPECT_EQ(c.substr(c.size() - end.size()), end);
        EXPECT_EQ(rig.Played().size(), hangup ? 1u : 2u);
        EXPECT_FALSE(rig.state.m_bPlaying);
        EXPECT_EQ(rig.ui.controls.back(), "Play=再生");
    }
    // Silent from the start: the set-up stops at its first command.
    Rig silent;
    silent.board.options().silent_after = silent.board.frame_count();
    const size_t heard = silent.board.frames().size();
    EXPECT_TRUE(silent.Play(false).link_lost);
    EXPECT_EQ(silent.board.frames().size(), heard + 1);
    EXPECT_NE(silent.ui.console.find("RCB-4HV初期化中\r\nボードが応答しません\r\n end "),
              std::string::npos)
        << silent.ui.console;

    // A single refusal is logged and the playback goes on.
    Rig rig;
    rig.ui.on_stop_button = [&rig] {
        if (rig.played_from >= 0) return;
        rig.played_from = static_cast<int>(rig.board.frames().size());
        rig.board.options().nack_at = rig.board.frame_count() + 2;
    };
    const quenlo::PlaybackResult result = rig.Play(false);
    EXPECT_FALSE(result.link_lost);
    EXPECT_EQ(result.failed_exchanges, 1);
    EXPECT_EQ(rig.Played().size(), 7u);
    EXPECT_NE(rig.log.err().find("The board refused the command (NACK).\n"), std::string::npos);
}

TEST(Playback, RefusalsLeaveTheWindowAsItWas) {
    Rig rig;
    // Play all after the conversion was dropped: one line, and not left playing.
    rig.state.m_pDataInfo.reset();
    const size_t frames = rig.board.frames().size();
    const quenlo::PlaybackResult result = rig.Play(true);
    EXPECT_FALSE(result.started);
    EXPECT_EQ(rig.ui.console, "コマンド変換されていません\r\n");
    EXPECT_FALSE(rig.state.m_bPlaying);
    EXPECT_FALSE(rig.state.m_bLiveRunning);  // a preview would not wait for it
    EXPECT_TRUE(rig.ui.controls.empty());
    EXPECT_EQ(rig.board.frames().size(), frames);

    // Link work holds the link: refused. Without a link the preview plays alone.
    rig.ui.console.clear();
    rig.state.m_bLinkBusy = true;
    EXPECT_EQ(quenlo::StartPlayback(rig.ui, rig.state), quenlo::PlaybackStart::Refused);
    EXPECT_EQ(rig.ui.console, "操作は無効です\r\n");
    rig.state.m_bLinkBusy = false;
    rig.state.m_nLinkSpeed = -1;
    Rig alone;
    alone.state.m_nLinkSpeed = -1;
    EXPECT_EQ(quenlo::StartPlayback(alone.ui, alone.state), quenlo::PlaybackStart::PreviewOnly);
    EXPECT_FALSE(alone.state.m_bPlaying);
    EXPECT_FALSE(alone.state.m_bRobotActive);
    // Alone and without a conversion: said, and the window stays idle.
    rig.ui.console.clear();
    EXPECT_EQ(quenlo::StartPlayback(rig.ui, rig.state), quenlo::PlaybackStart::Refused);
    EXPECT_EQ(rig.ui.console, "変換されていません\r\n");
    EXPECT_FALSE(rig.state.m_bPlaying);
}

}  // namespace
