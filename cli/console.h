// What the subcommands share: the console on standard output and list options.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"

class CUsbIO;

namespace CLI {
class App;
class Option;
class Validator;
}  // namespace CLI

namespace quenlo::cli {

// The console pane is standard output, on the log stream so that console lines
// and progress lines keep their order; a line that refuses or reports a failure
// goes to standard error as well, where scripts look for it. Nobody sits at a shell's dialog: every
// question gets the answer given here.
class StdoutUi : public OperatorUi {
  public:
    explicit StdoutUi(bool answer_yes) : yes_(answer_yes) {}
    void ConsoleWrite(std::string_view text) override;
    bool Confirm(std::string_view, std::string_view) override { return yes_; }
    void SetBusy(bool) override {}

  private:
    bool yes_;
};

// Connects, asks as the ROM button does and opens the transfer's console;
// false (with the console's line) when the transfer is not to run.
bool StartRomTransfer(OperatorUi& ui, CUsbIO& link, const char* port);

// Flushes standard output and checks that every write to it went through;
// false after a line on standard error (a full disk, a closed pipe).
bool FinishOutput(const char* command);

// While it lives, the log's lines (the conversion's console and progress)
// go to standard error, so that standard output carries the command's own.
class ProgressToStderr {
  public:
    ProgressToStderr() {
        SetLogSink([](Stream, std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), stderr);
        });
    }
    ~ProgressToStderr() { SetLogSink({}); }
    ProgressToStderr(const ProgressToStderr&) = delete;
    ProgressToStderr& operator=(const ProgressToStderr&) = delete;
};

// Throws the command-line error "OPTION: OUT is IN, one of the inputs" when the
// output names an input file by any path or link: it would replace it.
void RefuseInputAsOutput(const char* option, const std::string& output,
                         const std::vector<std::string>& inputs);

// --port: a device name (under /dev) or a path, never empty.
CLI::Validator PortName();

// Throws the command-line error naming a motion given as the model or a model
// given as a motion, by the file's extension.
void RefuseSwappedFiles(const std::string& model, const std::vector<std::string>& motions);

// The window's list choices as options, range-checked: --rate (playback-rate
// list index) and --interval (transition list index), with their defaults.
CLI::Option* AddRateOption(CLI::App& sub, int& rate);
CLI::Option* AddIntervalOption(CLI::App& sub, int& interval);

}  // namespace quenlo::cli
