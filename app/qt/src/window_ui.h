// The window's OperatorUi: the one place where the core's calls, from the
// window's thread or from a worker, reach the widgets. A worker never waits
// here: what it shows is posted to the window's thread and shown in the order
// it was made; what a playback reads while it runs (the loop box, the
// transition list) comes from atomics the window writes when they change.
#pragma once

#include <atomic>
#include <string_view>

#include "quenlo/core.h"

class CQuenloDlg;

namespace quenlo::qt {

class WindowUi : public OperatorUi {
  public:
    explicit WindowUi(CQuenloDlg& dlg) : dlg_(dlg) {}

    void ConsoleWrite(std::string_view text) override;
    bool Confirm(std::string_view caption, std::string_view text) override;
    void SetBusy(bool busy) override;
    void ShowConversion(CDataInfo& data) override;
    void SetPortEntry0(std::string_view caption) override;
    void SelectPortEntry(int index) override;
    void ShowLinkSpeeds(int serial, int servo) override;
    void ShowRomPhase(RomPhase phase) override;
    void ShowProgress(size_t done, size_t total) override;
    void ShowPlayingMotion(int entry) override;
    int SelectedMotion() override;
    int MotionCount() override;
    int RateIndex() override;
    int IntervalIndex() override { return interval_; }
    bool LoopChecked() override { return loop_; }
    void EnableControl(Control control, bool enable) override;
    void SetCaption(Control control, std::string_view caption) override;

    // The window keeps these as the operator changes them.
    void LoopChanged(bool checked) { loop_ = checked; }
    void IntervalChanged(int index) { interval_ = index; }

  private:
    // Runs fn on the window's thread: at once when called there, else posted.
    template <class Fn>
    void Show(Fn&& fn);

    CQuenloDlg& dlg_;
    std::atomic<bool> loop_{false};
    std::atomic<int> interval_{kDefaultInterval};
};

}  // namespace quenlo::qt
