// What the main window's operations need from whoever shows them to the
// operator: the Qt dialog or quenlo-cli.
//
// Threads. The user-interface thread runs the dialog's handlers; link work (a
// connection attempt, a ROM transfer), live playback and the preview run on
// worker threads. A worker never waits for the user-interface thread: what it
// needs from the window it takes as values when it starts (or reads from
// atomics the window writes), what it shows is posted in order, and its result
// comes back as a value. Each job has one stop request (its std::jthread's),
// so stopping a worker is asking it to stop and joining it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

class CDataInfo;

namespace quenlo {

// Controls of the main window that the operations enable and caption.
enum class Control {
    Play,
    PlayAll,
    MoveUp,
    MoveDown,
    MotionList,
    BacField,
    Delete,
    PortList,
    RateList
};

// The parts of ROM work, each shown from empty to full by ShowProgress.
enum class RomPhase { Backup, Write, ReadBack };

// A console line either tells what goes on, or refuses an operation or
// reports a failure (and what to do about it): a shell also puts those where
// scripts look for errors.
enum class LineKind { Info, Failure };

// What the core needs from whoever shows it to the operator.
class OperatorUi {
  public:
    virtual ~OperatorUi() = default;
    // Appends text to the console pane as it stands (callers carry "\r\n").
    // From a worker every call that shows something is posted, never waited
    // for, and shown in the order it was made.
    virtual void ConsoleWrite(std::string_view text) = 0;
    // Console text of a kind; a window shows every kind alike.
    virtual void ConsoleLine(std::string_view text, LineKind /*kind*/) { ConsoleWrite(text); }
    // Yes/No question; true only for Yes. On the user-interface thread only.
    virtual bool Confirm(std::string_view caption, std::string_view text) = 0;
    // Wait cursor on while a long operation runs on the caller's thread.
    virtual void SetBusy(bool busy) = 0;
    // Builds the preview of a conversion that has just succeeded, while the
    // libraries still hold its model, on the conversion's thread. Without a
    // preview there is nothing to do.
    virtual void ShowConversion(CDataInfo& /*data*/) {}

    // The controls the link operations touch; a shell has none of them.
    // Entry 0 of the port list: "非接続", "切断" or "未接続".
    virtual void SetPortEntry0(std::string_view /*caption*/) {}
    // Selects an entry of the port list (0 is the "not connected" entry).
    virtual void SelectPortEntry(int /*index*/) {}
    // Selects entries of the serial and servo-bus speed lists; -1 selects none.
    virtual void ShowLinkSpeeds(int /*serial*/, int /*servo*/) {}
    // A part of ROM work begins: ShowProgress counts its bytes from here.
    virtual void ShowRomPhase(RomPhase /*phase*/) {}
    // Bytes of the ROM work's current part done so far, of its whole.
    virtual void ShowProgress(size_t /*done*/, size_t /*total*/) {}
    // A playback starts the motion of this motion-list entry.
    virtual void ShowPlayingMotion(int /*entry*/) {}

    // What a playback reads from the window. The first three are read once, on
    // the user-interface thread, when the playback starts (ReadPlaybackSettings);
    // the loop box and the transition list are read while it plays, from its
    // thread, and must answer without waiting. A shell without a window answers
    // the window's defaults.
    virtual int SelectedMotion();  // entry of the motion list, -1 for none
    virtual int MotionCount();     // entries of the motion list
    virtual int RateIndex();       // playback-rate list, -1 for none
    virtual int IntervalIndex();   // transition list, -1 for none
    virtual bool LoopChecked();    // the loop check box
    virtual void EnableControl(Control /*control*/, bool /*enable*/) {}
    virtual void SetCaption(Control /*control*/, std::string_view /*caption*/) {}

    // printf-style console line, cut to 499 characters like the dialog's.
    void ConsolePrint(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // The same for a refusal or a failure (LineKind::Failure).
    void ConsoleFail(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  private:
    void ConsoleFormat(LineKind kind, const char* fmt, va_list args)
        __attribute__((format(printf, 3, 0)));
};

// At most `limit` diagnostic lines are shown per operation; the rest are
// counted and reported by End.
class DiagnosticLimit {
  public:
    explicit DiagnosticLimit(int limit = 200) : limit_(limit) {}
    // A new operation starts: the count begins again.
    void Begin() { shown_ = held_ = 0; }
    // True when the line is to be shown, false when it is only counted.
    bool Take();
    // The closing line for the lines held back ("" when none), and a new count.
    std::string End();

  private:
    int limit_;
    int shown_ = 0;
    int held_ = 0;
};

}  // namespace quenlo
