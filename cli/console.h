// What the subcommands share: the console on standard output and list options.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace CLI {
class App;
class Option;
class Validator;
}  // namespace CLI

namespace quenlo::cli {

// The console pane is standard output, on the log stream so that console lines
// and progress lines keep their order; a line that refuses or reports a
// failure goes to standard error as well, where scripts look for it, unless
// the console is already there (ProgressToStderr). Nobody sits at a shell's
// dialog: every question gets the answer given here.
class StdoutUi : public OperatorUi {
  public:
    enum class Console { OnStdout, OnStderr };
    explicit StdoutUi(bool answer_yes, Console console = Console::OnStdout)
        : yes_(answer_yes), copy_failures_(console == Console::OnStdout) {}
    void ConsoleWrite(std::string_view text) override;
    void ConsoleLine(std::string_view text, LineKind kind) override;
    bool Confirm(std::string_view, std::string_view) override { return yes_; }
    void SetBusy(bool) override {}

  private:
    bool yes_;
    bool copy_failures_;
};

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

// --port: a device name (under /dev) or a path, never empty.
CLI::Validator PortName();

// An output option and the path it names (empty when not given).
struct OutputOption {
    const char* option;
    const std::string& path;
};

// Throws the command-line error naming a motion given as the model or a model
// given as a motion (by the file's extension), or "OPTION: OUT is IN, one of
// the inputs" when an output names the model or a motion by any path or link:
// it would replace it.
void RefuseBadFiles(const std::string& model, const std::vector<std::string>& motions,
                    std::initializer_list<OutputOption> outputs = {});

// What export-gltf and snapshot read: a model, its motions, a rate, one file.
struct SceneArgs {
    std::string model;
    std::vector<std::string> motions;
    int rate = kDefaultRate;
    std::string output;
};
// Declares MODEL.bac, MOTION.tra (described by `motions`), --rate, and -o
// (described by `output`, shown as `type`), with the checks of RefuseBadFiles
// once they are read; answers --rate, whose description a command may change.
CLI::Option* AddSceneArgs(CLI::App& sub, SceneArgs& args, const char* motions, const char* output,
                          const char* type);

// The window's list choices as options, range-checked: --rate (playback-rate
// list index) and --interval (transition list index), with their defaults.
CLI::Option* AddRateOption(CLI::App& sub, int& rate);
CLI::Option* AddIntervalOption(CLI::App& sub, int& interval);

}  // namespace quenlo::cli
