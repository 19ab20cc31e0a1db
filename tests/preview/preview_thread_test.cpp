// The preview thread: alone at the rate's period on a manual clock, and
// following the live playback's commands on the simulated board.
#include <gtest/gtest.h>

#include <thread>

#include "../playback/playback_rig.h"
#include "preview.h"

namespace {

// A frame the preview painted: the motion's record and the step it shows.
struct Shown {
    int record, step;
    bool operator==(const Shown&) const = default;
};

// The rig's conversion (motion 0: five commands, motion 1: two) in a scene
// whose repaint keeps what it shows and takes a millisecond.
class PreviewThread : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.state.m_pDataInfo);
        float size = 0;
        scene.CreateBacObject(&size, *rig.state.m_pDataInfo);
        scene.SetClock(clock);
        scene.SetRepaint([this] {
            const CDataInfo& data = *rig.state.m_pDataInfo;
            // The step's values have been fetched: the cursor is one beyond it.
            shown.push_back({data.current_motion(), data.current_frame() - 1});
            clock.Advance(1);
            if (on_frame) on_frame();
        });
        rig.ui.console.clear();
        rig.ui.controls.clear();
    }
    // Play or Play all with no link: the preview plays alone.
    void PlayAlone(bool play_all) {
        rig.state.m_nLinkSpeed = -1;
        ASSERT_EQ(quenlo::StartPlayback(rig.ui, rig.state), quenlo::PlaybackStart::PreviewOnly);
        rig.state.m_bPlaying = true;
        quenlo::AnimatePreview(rig.ui, rig.state, scene,
                               quenlo::ReadPlaybackSettings(rig.ui, play_all), stop.get_token());
        quenlo::EndPlayback(rig.state);
    }
    // Board frames of each step of a motion.
    std::vector<int> Speeds(int entry) {
        std::vector<int> speeds;
        for (const auto& c : rig.Commands(entry)) speeds.push_back(c[7]);
        return speeds;
    }
    // The preview of a live playback.
    void Follow() {
        quenlo::AnimatePreview(rig.ui, rig.state, scene,
                               quenlo::ReadPlaybackSettings(rig.ui, false), stop.get_token());
    }
    std::vector<Shown> StepsShown() {
        std::vector<Shown> steps;
        for (const Shown& s : shown)
            if (steps.empty() || !(steps.back() == s)) steps.push_back(s);
        return steps;
    }

    playback_test::Rig rig;
    CPreviewScene scene;
    quenlo::ManualClock clock{5000};
    std::vector<Shown> shown;
    std::function<void()> on_frame;
    std::stop_source stop;  // the preview thread's
};

TEST_F(PreviewThread, AlonePlaysEveryStepAtTheRatesPeriodAndPausesBetweenMotions) {
    rig.ui.interval = 2;  // 500 ms
    PlayAlone(true);
    // Every step of both motions, one repaint per board frame.
    const std::vector<int> s0 = Speeds(0), s1 = Speeds(1);
    std::vector<Shown> steps;
    size_t frames = 0;
    for (int k = 0; k < 5; ++k)
        if (s0[k] > 0) steps.push_back({0, k}), frames += s0[k];
    for (int k = 0; k < 2; ++k)
        if (s1[k] > 0) steps.push_back({1, k}), frames += s1[k];
    EXPECT_EQ(StepsShown(), steps);
    EXPECT_EQ(shown.size(), frames);
    // Frames of 25 ms: 1 ms painting, then a sleep of the rest less one. The
    // 11 frames of motion 0 take 264 ms of their 275: the pause is those 11 ms
    // and the 500 ms transition, in slices of 50.
    ASSERT_EQ(frames, 16u);
    EXPECT_EQ(rig.ui.console,
              "モーション #0 再生\r\n frame=11 time=0\"26\r\nモーション #1 再生\r\n"
              " frame=5 time=0\"12\r\n end 0\"89\r\n");
    const std::vector<uint32_t>& slept = clock.slept();
    ASSERT_EQ(slept.size(), 27u);
    EXPECT_EQ(std::vector<uint32_t>(slept.begin(), slept.begin() + 11),
              std::vector<uint32_t>(11, 23));
    EXPECT_EQ(std::vector<uint32_t>(slept.begin() + 11, slept.begin() + 22),
              (std::vector<uint32_t>{50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 11}));
    EXPECT_EQ(rig.ui.controls.front(), "PlayAll:off");
    EXPECT_EQ(rig.ui.controls.back(), "PlayAll=全再生");
    EXPECT_FALSE(rig.state.m_bPlaying);
}

TEST_F(PreviewThread, AStopEndsThePlaybackAfterTheFrameShown) {
    rig.ui.selected = 0;
    rig.ui.loop_passes = 100;  // looping until stopped
    on_frame = [this] {        // the stop button
        if (shown.size() != 3) return;
        stop.request_stop();
        scene.RequestStop();
    };
    PlayAlone(false);
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_EQ(rig.ui.console.substr(0, rig.ui.console.find(" frame=")), "モーション #0 再生\r\n");
    EXPECT_NE(rig.ui.console.find(" end "), std::string::npos);
    EXPECT_EQ(rig.ui.controls.back(), "Play=再生");
    EXPECT_EQ(rig.ui.loop_asked, 0);
}

TEST_F(PreviewThread, WithTheRobotItShowsTheStepWhoseCommandWasSent) {
    // The preview starts once the board has step 2, and from then on the live
    // thread goes on after each command only when the preview has taken it.
    std::thread preview;
    rig.clock.on_deadline = [this, &preview](size_t) {
        if (rig.state.m_nCommandIndex < 2) return;
        if (!preview.joinable()) preview = std::thread([this] { Follow(); });
        while (rig.state.m_bCommandSent && rig.state.m_bLiveRunning)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    rig.ui.selected = 0;
    const quenlo::PlaybackResult result = rig.Play(false);
    ASSERT_TRUE(preview.joinable());
    preview.join();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(StepsShown(), (std::vector<Shown>{{0, 2}, {0, 3}, {0, 4}}));
    // Each step's frames: as many as its board frames.
    EXPECT_EQ(shown.size(), 3u + 1u + 4u);
    // The console and the controls are the live thread's alone.
    EXPECT_EQ(rig.ui.console.find("モーション #0 再生"),
              rig.ui.console.rfind("モーション #0 再生"));
    EXPECT_FALSE(rig.state.m_bPlaying);

    // A preview that comes late still shows the last command sent, and so
    // ends on the robot's last pose.
    shown.clear();
    rig.clock.on_deadline = nullptr;
    rig.Play(false);
    ASSERT_TRUE(rig.state.m_bCommandSent);
    Follow();
    EXPECT_EQ(StepsShown(), (std::vector<Shown>{{0, 4}}));
    EXPECT_EQ(shown.size(), 4u);
}

}  // namespace
