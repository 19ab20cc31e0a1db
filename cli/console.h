// What the subcommands share: the console on standard output and list options.
#pragma once

#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {

// The console pane is standard output, on the log stream so that console lines
// and progress lines keep their order. Nobody sits at a shell's dialog: every
// question gets the answer given here.
class StdoutUi : public OperatorUi {
  public:
    explicit StdoutUi(bool answer_yes) : yes_(answer_yes) {}
    void ConsoleWrite(std::string_view text) override { LogWrite(Stream::Out, text); }
    bool Confirm(std::string_view, std::string_view) override { return yes_; }
    void SetBusy(bool) override {}

  private:
    bool yes_;
};

// A list index option such as "--rate 3": answers false after saying what is wrong.
bool IndexOption(const char* command, const char* option, const char* text, int last, int& out);

}  // namespace quenlo::cli
