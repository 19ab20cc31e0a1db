// A silent board on a pseudo-terminal that never answers: how long the speed
// search takes to give up, and how soon a stop request ends a reply wait.
// These are the bounds the link promises (under 1 s, within 0.2 s).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <stop_token>
#include <string>
#include <thread>

#include "quenlo/platform.h"
#include "usbio.h"

namespace {

using Clock = std::chrono::steady_clock;

// The master side of a pseudo-terminal, never read or answered.
struct SilentLine {
    SilentLine() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
    }
    ~SilentLine() {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string path;
};

void SilentConnect(benchmark::State& state) {
    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    SilentLine line;
    for (auto _ : state) {
        CUsbIO link;
        // As the window and quenlo-cli connect: twice round the speeds.
        benchmark::DoNotOptimize(link.Connect(line.path.c_str()));
    }
    quenlo::SetLogSink({});
}
BENCHMARK(SilentConnect)->Unit(benchmark::kMillisecond)->Iterations(5);

// From the stop request to the end of the Transfer waiting for a reply.
void StopWhileWaitingForAReply(benchmark::State& state) {
    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    SilentLine line;
    CUsbIO link;
    if (link.OpenPort(line.path.c_str()) != 0) state.SkipWithError("no pseudo-terminal");
    const uint8_t ack[3] = {0x03, 0xFE, 0x01};
    int k = 0;
    for (auto _ : state) {
        std::stop_source stop;
        link.SetStopToken(stop.get_token());
        Clock::time_point asked;
        std::jthread stopper([&] {
            // Somewhere inside a 100 ms step of the wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + 37 * (k++ % 3)));
            asked = Clock::now();
            stop.request_stop();
        });
        link.Transfer(ack, 3);
        stopper.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - asked).count());
    }
    quenlo::SetLogSink({});
}
BENCHMARK(StopWhileWaitingForAReply)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace
