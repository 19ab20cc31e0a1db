// Pacing of live playback, measured where it matters: at the board. The
// example motions are played over a pseudo-terminal to quenlo-sim, whose trace
// gives the moment each command arrived (on the same monotonic clock). Each
// case runs with both pacing schemes, one after the other:
//   from-start  each command waits its frames from the moment taken just before it
//   chained     each command is due its frames after the previous one's due time
// A command's due time is the nominal schedule from the moment the first
// command was sent: the sum of the frames before it (and the transitions of
// Play all). Reported per command: arrival at the board minus due time
// (median, 99th percentile, largest), and the median of sending minus due time
// (the rest is the pty and the simulator); at the end, how far the release
// arrived after the nominal end (drift).
//
// The cases run quiet, then (but for the long loop) loaded: beside four
// processes that spin for ever, as a busy machine has them. The playback
// thread asks for real-time scheduling; run the bench without the right to it
// (e.g. capsh --drop=cap_sys_nice --) for the figures without.
//
//   pacing_bench [--loop-seconds S] [--only N] [--spinners N]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "sim_trace.h"
#include "usbio.h"

namespace {

using pacing::Arrival;
using pacing::Bytes;
using pacing::LoadAverage;
using pacing::Percentile;
using pacing::ReadTrace;
using pacing::Sim;
constexpr const char* kMotions[] = {"bow.tra", "squat.tra", "walk.tra", "wave.tra"};

// The window's lists for one case; the loop box stays checked for `passes - 1`
// questions.
class BenchUi : public quenlo::OperatorUi {
  public:
    BenchUi(int rate, int interval, int passes)
        : rate_(rate), interval_(interval), loops_(passes - 1) {}
    void ConsoleWrite(std::string_view) override {}
    bool Confirm(std::string_view, std::string_view) override { return true; }
    void SetBusy(bool) override {}
    int SelectedMotion() override { return 0; }
    int MotionCount() override { return static_cast<int>(std::size(kMotions)); }
    int RateIndex() override { return rate_; }
    int IntervalIndex() override { return interval_; }
    bool LoopChecked() override { return loops_-- > 0; }

  private:
    int rate_, interval_, loops_;
};

struct Case {
    const char* name;
    int rate;
    int interval;
    int passes;
};

struct Figures {
    size_t commands = 0;
    double median_ms = 0, p99_ms = 0, max_ms = 0, sent_ms = 0;
    double nominal_s = 0, drift_ms = 0, drift_pct = 0;
    bool ok = false;
    std::string problem;
};

// When each frame was handed to the port: its hex dump is logged just before.
std::vector<uint64_t> g_sent_us;

Figures Run(const Case& c, quenlo::Pacing pacing, const std::string& dir) {
    g_sent_us.clear();
    Figures f;
    auto fail = [&f](std::string problem) {
        f.problem = std::move(problem);
        return f;
    };
    const std::string trace = dir + "/trace";
    std::remove(trace.c_str());
    BenchUi ui(c.rate, c.interval, c.passes);
    quenlo::DialogState state;
    std::vector<std::string> motions;
    for (const char* m : kMotions) motions.push_back(std::string(QUENLO_EXAMPLES_DIR "/") + m);
    state.m_pDataInfo =
        quenlo::RunConversion(ui, QUENLO_EXAMPLES_DIR "/robot.bac", motions, c.rate);
    if (!state.m_pDataInfo) return fail("conversion failed");
    const CDataInfo& data = *state.m_pDataInfo;
    {
        Sim sim(trace);
        state.m_pUsbIO = std::make_unique<CUsbIO>(quenlo::MakeSystemSerialPort());
        state.m_nLinkSpeed = state.m_pUsbIO->Connect(sim.pty().c_str());
        if (quenlo::StartPlayback(ui, state) != quenlo::PlaybackStart::Live)
            return fail("no link to quenlo-sim");
        const quenlo::PlaybackResult r = quenlo::PlayMotions(
            ui, state, quenlo::ReadPlaybackSettings(ui, true), std::stop_token(), pacing);
        if (r.failed_exchanges) return fail("failed exchanges");
        state.m_pUsbIO.reset();
    }

    // The nominal schedule: every command of every pass, with its due time
    // counted from the first command.
    const int period_ms = quenlo::kRates[c.rate].period_code * 5 + 10;
    std::vector<Bytes> expected;
    std::vector<uint64_t> due;
    uint64_t t = 0;
    for (int pass = 0; pass < c.passes; ++pass) {
        for (size_t m = 0; m < std::size(kMotions); ++m) {
            if (m > 0) t += uint64_t(quenlo::IntervalMs(c.interval)) * 1000;
            const int index = data.FindMotion(static_cast<int>(m));
            for (int j = 0; j < data.GetFrameCount(index); ++j) {
                const uint8_t* cmd = data.GetFrameCommand(index, j);
                expected.emplace_back(cmd, cmd + cmd[0]);
                due.push_back(t);
                t += uint64_t(cmd[7]) * period_ms * 1000;
            }
        }
    }
    const uint64_t nominal_end = t;

    // The commands follow the playback's register write; the release follows them.
    const std::vector<Arrival> arrivals = ReadTrace(trace);
    size_t first = 0;
    while (first < arrivals.size() && arrivals[first].rx != expected.front()) ++first;
    if (first + expected.size() >= arrivals.size()) return fail("trace too short");
    // Every frame written reaches the board: the n-th dump is the n-th arrival.
    if (g_sent_us.size() != arrivals.size()) return fail("frames lost on the way");
    std::vector<double> late_ms, sent_ms;
    const uint64_t t0 = g_sent_us[first];
    for (size_t i = 0; i < expected.size(); ++i) {
        const Arrival& a = arrivals[first + i];
        if (a.rx != expected[i]) return fail("command " + std::to_string(i) + " differs");
        late_ms.push_back((double(a.t_us) - double(t0 + due[i])) / 1000.0);
        sent_ms.push_back((double(g_sent_us[first + i]) - double(t0 + due[i])) / 1000.0);
    }
    const uint64_t release = arrivals[first + expected.size()].t_us;
    f.commands = expected.size();
    f.median_ms = Percentile(late_ms, 0.5);
    f.p99_ms = Percentile(late_ms, 0.99);
    f.max_ms = *std::max_element(late_ms.begin(), late_ms.end());
    f.sent_ms = Percentile(sent_ms, 0.5);
    f.nominal_s = double(nominal_end) / 1e6;
    f.drift_ms = (double(release - t0) - double(nominal_end)) / 1000.0;
    f.drift_pct = 100.0 * f.drift_ms * 1000.0 / double(nominal_end);
    f.ok = true;
    return f;
}

// N processes that keep a processor busy until they are killed.
std::vector<pid_t> StartSpinners(int n) {
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            volatile uint64_t x = 0;
            for (;;) x = x + 1;
        }
        if (pid > 0) pids.push_back(pid);
    }
    return pids;
}

void StopSpinners(const std::vector<pid_t>& pids) {
    for (pid_t pid : pids) kill(pid, SIGKILL);
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    int loop_seconds = 60;
    int only = -1;
    int spinners = 4;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--spinners")) spinners = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--loop-seconds")) loop_seconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--only")) only = std::atoi(argv[i + 1]);
    }
    // The hex dumps are formatted as always, timed, and dropped.
    quenlo::SetLogSink([](quenlo::Stream, std::string_view text) {
        if (text.starts_with(">>")) g_sent_us.push_back(quenlo::SystemClock().NowUs());
    });
    char dir[] = "/tmp/quenlo-pacing-XXXXXX";
    if (!mkdtemp(dir)) return 1;

    // One pass of the four examples at 25 ms with "1秒" between motions is
    // about 22 s; enough passes to play at least loop_seconds.
    const int passes = std::max(1, static_cast<int>(std::ceil(loop_seconds / 22.0)));
    const Case cases[] = {
        {"Play all, rate 0 (10 ms)", 0, 3, 1},
        {"Play all, rate 3 (25 ms)", 3, 3, 1},
        {"Play all + loop, rate 3", 3, 3, passes},
    };
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    std::printf("%-26s %-11s %8s %9s %9s %9s %9s %9s %10s %8s\n", "", "", "", "arrival", "minus",
                "due", "sent", "", "", "");
    std::printf("%-26s %-11s %8s %9s %9s %9s %9s %9s %10s %8s\n", "case", "pacing", "commands",
                "median", "p99", "max", "median", "nominal", "drift", "drift");
    int status = 0;
    for (const int load : {0, spinners}) {
        const std::vector<pid_t> spinning = StartSpinners(load);
        if (load > 0) std::printf("loaded: %d spinning processes\n", load);
        for (size_t k = 0; k < std::size(cases); ++k) {
            if (only >= 0 && static_cast<size_t>(only) != k) continue;
            if (load > 0 && cases[k].passes > 1) continue;
            for (const auto& [pacing, name] :
                 {std::pair{quenlo::Pacing::FromCommandStart, "from-start"},
                  std::pair{quenlo::Pacing::Chained, "chained"}}) {
                const Figures f = Run(cases[k], pacing, dir);
                if (!f.ok) {
                    std::printf("%-26s %-11s %s\n", cases[k].name, name, f.problem.c_str());
                    status = 1;
                    continue;
                }
                std::printf(
                    "%-26s %-11s %8zu %7.3fms %7.3fms %7.3fms %7.3fms %8.2fs %8.1fms %7.3f%%\n",
                    cases[k].name, name, f.commands, f.median_ms, f.p99_ms, f.max_ms, f.sent_ms,
                    f.nominal_s, f.drift_ms, f.drift_pct);
                std::fflush(stdout);
            }
        }
        StopSpinners(spinning);
        if (load == 0 && spinners <= 0) break;
    }
    std::printf("load average at end: %s\n", LoadAverage().c_str());
    std::system((std::string("rm -rf ") + dir).c_str());
    return status;
}
