// The operations of the main window, written once for the Qt dialog and for
// quenlo-cli. They talk to the operator only through OperatorUi.
//
// Threads. The user-interface thread runs the dialog's handlers; link work (a
// connection attempt, a ROM transfer), live playback and the preview run on
// worker threads. A worker may call every OperatorUi member. Whoever implements
// OperatorUi serves such a call on its user-interface thread: directly when it
// is made there, otherwise by posting it and blocking the worker until it has
// been served. The user-interface thread therefore never waits for a worker
// while a request of that worker can be pending: to stop one it raises the
// stop request, keeps serving requests until the worker has finished, and only
// then joins it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quenlo/platform.h"

class CDataInfo;
class CPreviewScene;
class CUsbIO;

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

// What the core needs from whoever shows it to the operator.
class OperatorUi {
  public:
    virtual ~OperatorUi() = default;
    // Appends text to the console pane as it stands (callers carry "\r\n").
    virtual void ConsoleWrite(std::string_view text) = 0;
    // Yes/No question; true only for Yes.
    virtual bool Confirm(std::string_view caption, std::string_view text) = 0;
    // Wait cursor on while a long operation runs on the caller's thread.
    virtual void SetBusy(bool busy) = 0;
    // Builds the preview of a conversion that has just succeeded, while the
    // libraries still hold its model. Without a preview there is nothing to do.
    virtual void ShowConversion(CDataInfo& /*data*/) {}

    // The controls the link operations touch; a shell has none of them.
    // Entry 0 of the port list: "非接続", "切断" or "未接続".
    virtual void SetPortEntry0(std::string_view /*caption*/) {}
    // Selects an entry of the port list (0 is the "not connected" entry).
    virtual void SelectPortEntry(int /*index*/) {}
    // Selects entries of the serial and servo-bus speed lists; -1 selects none.
    virtual void ShowLinkSpeeds(int /*serial*/, int /*servo*/) {}
    // Bytes of a ROM transfer written so far, of the whole image.
    virtual void ShowProgress(size_t /*done*/, size_t /*total*/) {}

    // What a playback reads from the window, each time it needs it, and the
    // controls it locks. A shell without a window answers the window's defaults.
    virtual int SelectedMotion();  // entry of the motion list, -1 for none
    virtual int MotionCount();     // entries of the motion list
    virtual int RateIndex();       // playback-rate list, -1 for none
    virtual int IntervalIndex();   // transition list, -1 for none
    virtual bool LoopChecked();    // the loop check box
    virtual void EnableControl(Control /*control*/, bool /*enable*/) {}
    virtual void SetCaption(Control /*control*/, std::string_view /*caption*/) {}

    // printf-style console line, cut to 499 characters like the dialog's.
    void ConsolePrint(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

// The main window's state that its operations and worker threads share.
// The owning pointers and the link speed change only on the user-interface
// thread, and only while no worker uses them (no playback, no link work); the
// flags are read and written from every thread.
struct DialogState {
    DialogState();
    ~DialogState();
    DialogState(const DialogState&) = delete;
    DialogState& operator=(const DialogState&) = delete;

    std::unique_ptr<CUsbIO> m_pUsbIO;        // the board link, made on the first port choice
    int m_nLinkSpeed = -1;                   // speed index of the open link; -1: no link
    std::unique_ptr<CDataInfo> m_pDataInfo;  // the conversion held, if any
    bool m_bConverted = false;               // a conversion is held and shown

    std::atomic<bool> m_bBoardReady{false};  // full board set-up done since the last model drop
    std::atomic<bool> m_bPlaying{false};     // a playback runs; clearing it asks it to stop
    std::atomic<bool> m_bPlayAll{false};
    std::atomic<bool> m_bRobotActive{false};  // a link was open when the playback started
    std::atomic<bool> m_bCommandSent{false};  // a new command was handed to the board
    std::atomic<int> m_nCommandIndex{0};      // written before m_bCommandSent is raised
    std::atomic<bool> m_bLinkBusy{false};     // a connection attempt or a ROM transfer runs

    bool LinkOpen() const { return m_nLinkSpeed >= 0; }
};

// The fixed lists of the main window.
struct RateEntry {
    const char* text;
    int time_scale;   // board frames per motion-time unit
    int period_code;  // base frame period: 0 = 10, 1 = 15, 2 = 20, 3 = 25 ms
};
inline constexpr RateEntry kRates[9] = {
    {"10", 1, 0}, {"15", 1, 1}, {"20", 1, 2}, {"25", 1, 3}, {"30", 2, 1},
    {"40", 2, 2}, {"45", 3, 1}, {"50", 2, 3}, {"60", 3, 2},
};
inline constexpr int kDefaultRate = 3;
inline constexpr const char* kIntervalTexts[5] = {"なし", "100ms", "500ms", "1秒", "2秒"};
inline constexpr int kIntervalMs[5] = {0, 100, 500, 1000, 2000};
inline constexpr int kDefaultInterval = 3;

// Transition interval for a list index; no selection (or a bad one) is 0 ms.
int IntervalMs(int index);

// ---- Conversion ------------------------------------------------------------
// Analyses the model, converts every motion file in list order and builds the
// frame commands, with the console lines of the main window. rate_index is the
// playback-rate list index, -1 for none. Answers the conversion, or null after
// telling the operator which file is not valid.
std::unique_ptr<CDataInfo> RunConversion(OperatorUi& ui, const std::string& bac_path,
                                         const std::vector<std::string>& motion_paths,
                                         int rate_index);

// The Convert button: the model field's first line (at most 250 characters)
// must name a .bac file and the motion list must not be empty, else the
// operator is told which is missing; then RunConversion.
std::unique_ptr<CDataInfo> Convert(OperatorUi& ui, const std::string& bac_field,
                                   const std::vector<std::string>& motion_paths, int rate_index);
// The same after a drop: the checks are silent and a missing input is no error.
std::unique_ptr<CDataInfo> TryAutoConversion(OperatorUi& ui, const std::string& bac_field,
                                             const std::vector<std::string>& motion_paths,
                                             int rate_index);
// Whether TryAutoConversion would convert: a .bac model and at least one motion.
bool AutoConversionReady(const std::string& bac_field,
                         const std::vector<std::string>& motion_paths);

// Why the file at path cannot be read (the system's reason: "Permission
// denied", "a directory", "not a regular file" ...); empty when it can.
std::string FileReadProblem(const std::string& path);

// ---- ROM transfer ----------------------------------------------------------
// Everything a ROM image holds, by motion-list position. An entry whose file
// produced no commands has an empty frame list: an empty slot, nothing to play.
struct RomContent {
    std::vector<int32_t> motors;                             // motor codes, bone order
    std::vector<std::vector<std::vector<uint8_t>>> entries;  // frame commands per entry
    int interval_ms = 0;                                     // transition between motions
    // Playback-rate list index: the boot program sets its base frame period.
    // -1 (none) leaves the board at 10 ms, as images made before the rate did.
    int rate_index = -1;
};

// Collects the commands of each motion-list entry from a conversion, finding
// each entry's record by its motion number.
RomContent MakeRomContent(const CDataInfo& data, int entry_count, int interval_ms,
                          int rate_index = -1);

// Progress of a long read: bytes done of the total.
using ReadProgress = std::function<void(size_t done, size_t total)>;

// What a ROM transfer does besides writing.
struct RomTransferOptions {
    // Read back every written range before the reboot; a difference stops the
    // transfer. A board that does not answer reads still gets its program.
    bool verify = true;
    // When set, gets the ROM from address 0 up to the image's last byte, read
    // before the first write; answering false stops the transfer unwritten.
    std::function<bool(const std::vector<uint8_t>& rom)> backup;
    // Of the backup and the read-back (ShowProgress counts the bytes written).
    ReadProgress progress;
};

// Writes boot program, play loop, servo settings and motion slots into the
// board's ROM, reads them back and reboots the board, logging each part to the
// console and showing the bytes written. Checks the layout before the first
// write and logs it on standard output. Answers true when everything was
// written (and read back the same). Runs on the thread that holds the link.
bool WriteRomImage(OperatorUi& ui, CUsbIO& link, const RomContent& content,
                   const RomTransferOptions& options = {});

// One past the last ROM byte the transfer of `content` writes.
uint32_t RomImageEnd(const RomContent& content);

// Writes a saved ROM image back from address 0, reads it back and reboots the
// board, as a transfer does. An empty image, or one beyond the ROM layout, is
// refused before anything is written. options.backup is not used.
bool RestoreRomImage(OperatorUi& ui, CUsbIO& link, const std::vector<uint8_t>& image,
                     const RomTransferOptions& options = {});

// Reads ROM bytes [from, to) into out, reporting progress as it goes. False
// (after the link's line on standard error) when any read fails.
bool ReadRomRange(CUsbIO& link, uint32_t from, uint32_t to, std::vector<uint8_t>& out,
                  const ReadProgress& progress = {});

// The ROM button, on the user-interface thread: the refusals (no link, link
// work or playback running, no conversion), the confirmation and the opening
// line. Answers the image to write, with m_bLinkBusy raised; the caller runs
// WriteRomImage on state.m_pUsbIO and then EndLinkWork. entry_count is the
// motion list's length; interval_index and rate_index are list indexes (-1: none).
std::optional<RomContent> BeginRomTransfer(OperatorUi& ui, DialogState& state, int entry_count,
                                           int interval_index, int rate_index);
// All of it on the caller's thread.
bool TransferToRom(OperatorUi& ui, DialogState& state, int entry_count, int interval_index,
                   int rate_index);

// ---- Board link ------------------------------------------------------------
// Link work (a connection attempt, a ROM transfer) has finished.
void EndLinkWork(DialogState& state);

// Connects and tells the operator the outcome as the port list does. A new link
// searches 115200 twice and 625000; a board at 1250000 answers the next search,
// as it would when the operator picks the port again. Answers the speed index or -1.
int ConnectBoard(OperatorUi& ui, CUsbIO& link, const char* port);

// The port list: every serial device of the system is logged once ("%d : %s",
// " [ %s ]"); a device whose friendly name ends in "(name)" adds that port name.
// Scanning again (the list opened) logs and adds only devices not seen before.
class PortScan {
  public:
    using Source = std::function<std::vector<SerialDevice>()>;
    explicit PortScan(Source source = ListSerialDevices);
    // Answers the port names to append to the list, in device order.
    std::vector<std::string> ListPorts(OperatorUi& ui);

  private:
    Source source_;
    std::vector<std::string> seen_;
};

// A port-list selection, on the user-interface thread: index 0 closes the
// link, any other index (or a typed device path, port_text) asks for a
// connection. Answers the port to connect, with m_bLinkBusy raised and the link
// object made; the caller runs ConnectBoard on state.m_pUsbIO, then
// EndSelectPort with its answer.
std::optional<std::string> BeginSelectPort(OperatorUi& ui, DialogState& state, int index,
                                           const std::string& port_text);
void EndSelectPort(OperatorUi& ui, DialogState& state, int speed);
// All of it on the caller's thread.
void SelectPort(OperatorUi& ui, DialogState& state, int index, const std::string& port_text);

// ---- Library diagnostics ---------------------------------------------------
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

// ---- Live playback ---------------------------------------------------------
// Play and Play all: the user-interface thread calls StartPlayback (when no
// playback runs) and, for Live, runs PlayMotions on a worker thread; then it
// starts the preview. Pressing either button while m_bPlaying is set, or
// closing the window, is RequestStop.
enum class PlaybackStart {
    Refused,      // link work is running; the operator has been told
    PreviewOnly,  // no link: the preview plays alone
    Live,         // m_bPlaying is set: run PlayMotions
};
PlaybackStart StartPlayback(OperatorUi& ui, DialogState& state, bool play_all);
// The stop request: the command being sent and its wait complete, then the
// servos are released and the controls given back.
void RequestStop(DialogState& state);

// Locks the window for a playback (enable false: the pressed button reads
// "中止") and gives it back (captions "再生" and "全再生"). Used by the live
// thread and by the preview.
void SetPlayControls(OperatorUi& ui, bool play_all, bool enable);

// How commands are paced. Chained: each command is due a whole number of board
// frames after the previous one's due time, on absolute deadlines, so late
// wake-ups do not add up. FromCommandStart: each command waits its frames from
// the moment taken just before it was sent (kept to compare the two).
enum class Pacing { Chained, FromCommandStart };

struct PlaybackResult {
    bool started = false;      // the board was set up and motions were played
    bool link_lost = false;    // stopped after three failed exchanges in a row
    int failed_exchanges = 0;  // with the board, during this playback
};

// The live playback, on its worker thread: sets the board up, hands each
// motion's commands to the link one by one, paced by the board's frame period,
// publishes each command's index for the preview (m_nCommandIndex, then
// m_bCommandSent, which is notified), follows the loop box and the transition
// interval, and always ends by releasing the servos and clearing m_bPlaying.
// The refusals (no link, no conversion) end it at once with m_bPlaying cleared.
PlaybackResult PlayMotions(OperatorUi& ui, DialogState& state, Pacing pacing = Pacing::Chained);

// ---- The preview thread ----------------------------------------------------
// The preview's frame period for a playback-rate list index: the board's base
// period, 10, 15, 20 or 25 ms; 1 ms for no selection.
int PreviewPeriodMs(int rate_index);

// The preview thread's body (CVantiAnime): walks the converted motions, poses
// the scene's bones frame by frame at the rate's period and has each frame
// painted through the scene's repaint. With the robot active it shows the
// step whose command the live thread has just sent, and leaves the console,
// the controls and m_bPlaying to that thread. The stop request (m_bPlaying
// cleared and the scene's stop raised) ends it after the frame shown.
void AnimatePreview(OperatorUi& ui, DialogState& state, CPreviewScene& scene);

// The motor codes the board is set up with: the conversion's list, as many as
// the model has motors.
std::vector<int32_t> BoardMotors(const CDataInfo& data);

}  // namespace quenlo
