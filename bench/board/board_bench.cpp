// ROM transfer of the example robot against the in-process board simulator.
// The simulator has no baud rate, so the measured time is our own overhead
// (framing, hex dumps, replies); the time the same bytes need on the wire at
// each speed is printed beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "board_sim.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "usbio.h"

namespace {

class SilentUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view) override {}
    bool Confirm(std::string_view, std::string_view) override { return true; }
    void SetBusy(bool) override {}
};

struct Workload {
    quenlo::RomContent content;
    std::string source;
};

// A robot of 19 servos with four motions of 40 keys, the size of the example.
quenlo::RomContent Synthetic() {
    quenlo::RomContent c;
    for (int i = 0; i < 19; ++i) c.motors.push_back(i % 2 * 100 + i / 2);
    for (int m = 0; m < 4; ++m) {
        std::vector<std::vector<uint8_t>> frames;
        for (int k = 0; k < 40; ++k) {
            std::vector<uint8_t> f{2 * 19 + 9, 0x10, 0xFF, 0xFF, 0x07, 0x00, 0x00, 10};
            for (int s = 0; s < 19; ++s) f.push_back(0x4C), f.push_back(0x1D);
            uint8_t sum = 0;
            for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
            f.push_back(sum);
            frames.push_back(f);
        }
        c.entries.push_back(frames);
    }
    c.interval_ms = 1000;
    return c;
}

const Workload& Load() {
    static const Workload workload = [] {
        Workload w;
        namespace fs = std::filesystem;
        const fs::path dir = QUENLO_EXAMPLES_DIR;
        std::vector<std::string> motions;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.path().extension() == ".tra") motions.push_back(e.path().string());
        std::sort(motions.begin(), motions.end());
        quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
        SilentUi ui;
        std::unique_ptr<CDataInfo> data;
        if (!motions.empty())
            data = quenlo::RunConversion(ui, (dir / "robot.bac").string(), motions,
                                         quenlo::kDefaultRate);
        quenlo::SetLogSink({});
        if (data) {
            w.content = quenlo::MakeRomContent(*data, static_cast<int>(motions.size()),
                                               quenlo::IntervalMs(quenlo::kDefaultInterval));
            w.source = "examples/robot.bac with " + std::to_string(motions.size()) + " motions";
        } else {
            w.content = Synthetic();
            w.source = "synthetic robot (examples not found)";
        }
        return w;
    }();
    return workload;
}

struct Traffic {
    size_t commands = 0;
    size_t sent = 0;
    size_t received = 0;  // four bytes a command, n + 3 for a read of n
    bool ok = false;
};

// One whole transfer: connect, image, read-back, reboot. keep_log formats every hex dump
// into a string as the console pane would receive it.
Traffic TransferOnce(const quenlo::RomContent& content, bool keep_log) {
    std::string log;
    if (keep_log)
        quenlo::SetLogSink([&log](quenlo::Stream, std::string_view t) { log.append(t); });
    else
        quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    quenlo::sim::BoardSim board;
    quenlo::ManualClock clock;
    CUsbIO link(std::make_unique<quenlo::sim::SimSerialPort>(board, &clock), clock);
    SilentUi ui;
    Traffic t;
    if (link.Connect("sim") == 0) {
        const size_t before = board.frames().size();
        t.ok = quenlo::WriteRomImage(ui, link, content);
        t.commands = board.frames().size() - before;
        for (size_t i = before; i < board.frames().size(); ++i) {
            const std::vector<uint8_t>& f = board.frames()[i].bytes;
            t.sent += f.size();
            t.received += f.size() == 11 && f[1] == 0x00 && f[2] == 0x23 ? f[9] + 3u : 4u;
        }
    }
    quenlo::SetLogSink({});
    benchmark::DoNotOptimize(log.data());
    return t;
}

void RomTransfer(benchmark::State& state) {
    const bool keep_log = state.range(0) != 0;
    const quenlo::RomContent& content = Load().content;
    Traffic t;
    for (auto _ : state) t = TransferOnce(content, keep_log);
    if (!t.ok) state.SkipWithError("transfer failed");
    state.counters["commands"] = static_cast<double>(t.commands);
    state.counters["bytes_out"] = static_cast<double>(t.sent);
    state.counters["per_command"] = benchmark::Counter(
        static_cast<double>(t.commands),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(RomTransfer)->Arg(0)->Arg(1)->ArgName("hex_dumps")->Unit(benchmark::kMillisecond);

void AcknowledgeCheck(benchmark::State& state) {
    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    quenlo::sim::BoardSim board;
    quenlo::ManualClock clock;
    CUsbIO link(std::make_unique<quenlo::sim::SimSerialPort>(board, &clock), clock);
    link.OpenPort("sim");
    const uint8_t ack[3] = {0x03, 0xFE, 0x01};
    for (auto _ : state) benchmark::DoNotOptimize(link.Transfer(ack, 3));
    quenlo::SetLogSink({});
}
BENCHMARK(AcknowledgeCheck);

void PrintWireTimes() {
    const Workload& w = Load();
    const Traffic t = TransferOnce(w.content, false);
    // 8E1: start, 8 data, parity and stop bits.
    const double bits = 11.0 * static_cast<double>(t.sent + t.received);
    std::printf("ROM transfer and read-back of %s: %zu commands, %zu bytes out, %zu bytes back\n",
                w.source.c_str(), t.commands, t.sent, t.received);
    for (double baud : {115200.0, 625000.0, 1250000.0})
        std::printf("  on the wire at %7.0f baud: %8.1f ms (%.3f ms per command)\n", baud,
                    1000.0 * bits / baud, 1000.0 * bits / baud / static_cast<double>(t.commands));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    PrintWireTimes();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
