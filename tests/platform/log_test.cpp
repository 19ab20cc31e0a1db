#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo {
namespace {

TEST(LogSink, CaptureSeparatesStreamsAndRestoresDefault) {
    {
        LogCapture cap;
        LogOut("open port %s.\n", "ttyUSB0");
        LogErr(" job code error %d\n", 7);
        EXPECT_EQ(cap.out(), "open port ttyUSB0.\n");
        EXPECT_EQ(cap.err(), " job code error 7\n");
    }
    testing::internal::CaptureStdout();
    LogOut("after");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "after");
}

TEST(LogSink, LongLinesAreNotCut) {
    LogCapture cap;
    std::string long_text(3000, 'x');
    LogOut("%s|", long_text.c_str());
    EXPECT_EQ(cap.out().size(), 3001u);
}

// A sink that waits for another thread which logs meanwhile, as a sink that
// hands text to a busy user-interface thread does: the second writer must not
// be held up by the first one's call.
TEST(LogSink, WritersDoNotWaitForEachOthersSink) {
    std::promise<void> second_done;
    std::shared_future<void> done = second_done.get_future().share();
    std::string seen;
    SetLogSink([&](Stream, std::string_view text) {
        if (text == "first") {
            std::thread([&] {
                LogOut("second");
                second_done.set_value();
            }).detach();
            ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        } else {
            seen.assign(text);
        }
    });
    LogOut("first");
    SetLogSink({});
    EXPECT_EQ(seen, "second");
}

class RecordingUi : public OperatorUi {
public:
    std::string text;
    void ConsoleWrite(std::string_view t) override { text.append(t); }
    bool Confirm(std::string_view, std::string_view) override { return true; }
    void SetBusy(bool) override {}
};

TEST(ConsolePrint, CutsAt499Characters) {
    RecordingUi ui;
    std::string long_text(600, 'a');
    ui.ConsolePrint("%s\r\n", long_text.c_str());
    EXPECT_EQ(ui.text, std::string(499, 'a'));
    ui.text.clear();
    ui.ConsolePrint("TRA#%d解析中\r\n", 0);
    EXPECT_EQ(ui.text, "TRA#0解析中\r\n");
}

TEST(FixedLists, RateAndIntervalTables) {
    EXPECT_EQ(kRates[kDefaultRate].time_scale, 1);
    EXPECT_EQ(kRates[8].time_scale, 3);
    EXPECT_EQ(kRates[8].period_code, 2);
    EXPECT_EQ(IntervalMs(kDefaultInterval), 1000);
    EXPECT_EQ(IntervalMs(-1), 0);
    EXPECT_EQ(IntervalMs(5), 0);
}

TEST(Clock, ManualClockAdvancesOnSleep) {
    ManualClock clock(100);
    clock.SleepMs(25);
    clock.Advance(5);
    EXPECT_EQ(clock.NowMs(), 130u);
    ASSERT_EQ(clock.slept().size(), 1u);
    EXPECT_EQ(clock.slept()[0], 25u);
}

}  // namespace
}  // namespace quenlo
