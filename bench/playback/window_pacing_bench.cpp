// Pacing of the bow at the board, played by quenlo-cli play and by the main
// window side by side: the window with the example robot in its preview, and
// with the same robot cut into 200,000 triangles (robotgen --faces), its
// preview drawing every step. Each case plays the bow several times into
// quenlo-sim over a pty. Per command, minus its due time (its frames after the
// previous one's due time, the chain starting at the bow's first command):
//   arrival  when quenlo-sim's trace saw it
//   sent     when the window's link handed it to the port (from its hex dump)
// as median, 99th percentile, largest, and the earliest (a command arriving
// early means the one before it was late).
//
// quenlo-sim runs with real-time scheduling where allowed, as a board is
// hardware; the pty still hands the bytes over through a kernel worker of
// ordinary priority, so on a busy machine (the preview's software OpenGL
// included) arrival is later than sending by what that worker waits.
//
// The window needs a display: run it under xvfb-run -a. Console lines and hex
// dumps go to /dev/null in every case, as a quiet terminal would take them.
//
//   window_pacing_bench [--plays N] [--rate INDEX]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "control_ids.h"
#include "conversion.h"
#include "mviewer.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "quenlo_dlg.h"
#include "sim_trace.h"

namespace {

using pacing::Bytes;
using pacing::LoadAverage;

const std::string kExamples = QUENLO_EXAMPLES_DIR;

bool g_sim_realtime = true;  // every case's quenlo-sim got SCHED_FIFO

struct Figures {
    std::vector<double> late_ms;  // at the board: every command of every play
    std::vector<double> sent_ms;  // handed to the port (the window's cases)
    uint64_t frames_painted = 0;
    std::string problem;
};

// Runs a program to its end; its exit status, or -1.
int RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The bow's commands at this rate, as every case converts them.
std::vector<Bytes> BowCommands(int rate) {
    class QuietUi : public quenlo::OperatorUi {
        void ConsoleWrite(std::string_view) override {}
        bool Confirm(std::string_view, std::string_view) override { return false; }
        void SetBusy(bool) override {}
    } ui;
    std::vector<Bytes> out;
    const auto data =
        quenlo::RunConversion(ui, kExamples + "/robot.bac", {kExamples + "/bow.tra"}, rate);
    if (!data) return out;
    const int bow = data->FindMotion(0);
    for (int j = 0; j < data->GetFrameCount(bow); ++j) {
        const uint8_t* c = data->GetFrameCommand(bow, j);
        out.emplace_back(c, c + c[0]);
    }
    return out;
}

// Frames the window's link handed to its port, timed, from its hex dumps
// (which go nowhere else); the playback thread adds, the bench reads after.
class SentFrames {
  public:
    SentFrames() {
        quenlo::SetLogSink([this](quenlo::Stream, std::string_view text) {
            if (!text.starts_with(">>")) return;
            const uint64_t now = quenlo::SystemClock().NowUs();
            const std::lock_guard lock(mutex_);
            dumps_.emplace_back(now, std::string(text.substr(2)));
        });
    }
    ~SentFrames() { quenlo::SetLogSink({}); }
    std::vector<pacing::Arrival> frames() {
        const std::lock_guard lock(mutex_);
        std::vector<pacing::Arrival> out;
        for (const auto& [t, hex] : dumps_) {
            pacing::Arrival a{t, {}};
            std::istringstream in(hex);
            for (unsigned b; in >> std::hex >> b;) a.rx.push_back(static_cast<uint8_t>(b));
            out.push_back(std::move(a));
        }
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<uint64_t, std::string>> dumps_;
};

// Adds the lateness of the bow found in `frames` from `from` on, each
// command due its frames after the previous one's due time, the first when
// it came; answers the frame after it, or 0 when it is not there whole.
size_t AddLateness(const std::vector<pacing::Arrival>& arrivals, size_t from,
                   const std::vector<Bytes>& bow, int period_ms, std::vector<double>& late_ms) {
    size_t first = from;
    while (first < arrivals.size() && arrivals[first].rx != bow.front()) ++first;
    if (first + bow.size() > arrivals.size()) return 0;
    uint64_t due = arrivals[first].t_us;
    for (size_t j = 0; j < bow.size(); ++j) {
        if (arrivals[first + j].rx != bow[j]) return 0;
        late_ms.push_back((double(arrivals[first + j].t_us) - double(due)) / 1000.0);
        due += uint64_t(bow[j][7]) * period_ms * 1000;
    }
    return first + bow.size();
}

Figures PlayCli(const std::string& dir, const std::vector<Bytes>& bow, int rate, int plays) {
    Figures f;
    const std::string trace = dir + "/cli-trace";
    pacing::Sim sim(trace, true);
    g_sim_realtime = g_sim_realtime && sim.realtime();
    const int period_ms = quenlo::kRates[rate].period_code * 5 + 10;
    size_t from = 0;
    for (int i = 0; i < plays; ++i) {
        if (RunProgram({QUENLO_CLI, "play", "--port", sim.pty(), "--rate", std::to_string(rate),
                        kExamples + "/robot.bac", kExamples + "/bow.tra"}) != 0) {
            f.problem = "quenlo-cli play failed";
            return f;
        }
        from = AddLateness(pacing::ReadTrace(trace), from, bow, period_ms, f.late_ms);
        if (from == 0) {
            f.problem = "the bow is not whole in the trace";
            return f;
        }
    }
    return f;
}

// Serves the window's events until done() holds; false after `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

Figures PlayWindow(const std::string& dir, const std::string& model, const std::vector<Bytes>& bow,
                   int rate, int plays) {
    Figures f;
    auto fail = [&f](const char* problem) {
        f.problem = problem;
        return f;
    };
    const std::string trace = dir + "/window-trace";
    std::remove(trace.c_str());
    pacing::Sim sim(trace, true);
    g_sim_realtime = g_sim_realtime && sim.realtime();
    SentFrames sent;
    CQuenloDlg dlg(nullptr, [] { return std::vector<quenlo::SerialDevice>{}; });
    dlg.show();
    using quenlo::qt::kPlayId;
    using quenlo::qt::kRateListId;
    dlg.findChild<QComboBox*>(QString("ctl%1").arg(kRateListId))->setCurrentIndex(rate);
    dlg.DropTra({kExamples + "/bow.tra"});
    dlg.DropBac({model});
    if (!WaitFor([&] { return dlg.state().m_bConverted; }, 120)) return fail("no conversion");
    dlg.SelectPort(-1, sim.pty());
    if (!WaitFor([&] { return !dlg.LinkWorkRunning() && !dlg.state().m_bLinkBusy; }, 30) ||
        !dlg.state().LinkOpen())
        return fail("no link to quenlo-sim");
    // The preview shows the model before the first play.
    WaitFor([] { return false; }, 1);
    auto* play = dlg.findChild<QPushButton*>(QString("ctl%1").arg(kPlayId));
    const int period_ms = quenlo::kRates[rate].period_code * 5 + 10;
    const uint64_t painted = dlg.viewer() ? dlg.viewer()->frames_painted() : 0;
    size_t from = 0, sent_from = 0;
    for (int i = 0; i < plays; ++i) {
        play->click();
        if (!WaitFor([&] { return !dlg.LivePlaybackRunning(); }, 60)) return fail("no end");
        from = AddLateness(pacing::ReadTrace(trace), from, bow, period_ms, f.late_ms);
        sent_from = AddLateness(sent.frames(), sent_from, bow, period_ms, f.sent_ms);
        if (from == 0 || sent_from == 0) return fail("the bow is not whole in the trace");
    }
    if (dlg.viewer()) f.frames_painted = dlg.viewer()->frames_painted() - painted;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    int plays = 10, rate = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--plays")) plays = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--rate")) rate = std::atoi(argv[i + 1]);
    }
    if (rate < 0 || rate >= static_cast<int>(std::size(quenlo::kRates))) return 2;
    // The figures go to what standard output was; the programs' output to /dev/null.
    FILE* report = fdopen(dup(1), "w");
    const int null = open("/dev/null", O_WRONLY);
    if (!report || null < 0 || dup2(null, 1) < 0) return 1;
    close(null);
    char dir[] = "/tmp/quenlo-window-pacing-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string heavy = std::string(dir) + "/heavy.bac";
    if (RunProgram({QUENLO_ROBOTGEN, "--faces", "200000", heavy}) != 0) return 1;
    const std::vector<Bytes> bow = BowCommands(rate);
    if (bow.empty()) return 1;

    CMviewer::RequestCompatibilityContext();
    QApplication app(argc, argv);
    std::fprintf(report, "load average at start: %s\n", LoadAverage().c_str());
    std::fprintf(report, "the bow (%zu commands) played %d times at rate %d (%d ms frames)\n",
                 bow.size(), plays, rate, quenlo::kRates[rate].period_code * 5 + 10);
    std::fprintf(report, "%-28s %-9s %9s %9s %9s %9s %8s\n", "minus due", "", "median", "p99",
                 "max", "earliest", "painted");
    std::fflush(report);
    int status = 0;
    auto show = [&](const char* name, const Figures& f) {
        if (!f.problem.empty()) {
            std::fprintf(report, "%-28s %s\n", name, f.problem.c_str());
            status = 1;
            return;
        }
        for (const auto& [what, ms] : {std::pair{"arrival", &f.late_ms}, {"sent", &f.sent_ms}}) {
            if (ms->empty()) continue;
            std::fprintf(report, "%-28s %-9s %7.3fms %7.3fms %7.3fms %7.3fms %8llu\n", name, what,
                         pacing::Percentile(*ms, 0.5), pacing::Percentile(*ms, 0.99),
                         pacing::Percentile(*ms, 1.0), *std::min_element(ms->begin(), ms->end()),
                         static_cast<unsigned long long>(f.frames_painted));
            name = "";
        }
        std::fflush(report);
    };
    show("quenlo-cli play", PlayCli(dir, bow, rate, plays));
    show("window, example robot", PlayWindow(dir, kExamples + "/robot.bac", bow, rate, plays));
    show("window, 200,000 triangles", PlayWindow(dir, heavy, bow, rate, plays));
    std::fprintf(report, "load average at end: %s\n", LoadAverage().c_str());
    std::fprintf(report, "quenlo-sim %s\n",
                 g_sim_realtime ? "ran with SCHED_FIFO" : "was refused real-time scheduling");
    std::system((std::string("rm -rf ") + dir).c_str());
    return status;
}
