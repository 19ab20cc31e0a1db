// CQuenloDlg: the main window. Its controls carry the object names "ctl<ID>" of
// control_ids.h; its operations are the core's (quenlo/core.h), shown here.
// It has the state they share (DialogState) and the OperatorUi they talk to
// (WindowUi), which is where calls from workers reach the widgets.
//
// Threads. Everything here runs on the window's thread. Link work (a
// connection attempt, a ROM transfer) runs on link_worker_, the live playback
// on motion_worker_, the preview on preview_worker_, the import of a glTF
// scene on import_worker_ and the conversion on conversion_worker_; none of
// them waits for this thread, except the preview for the frame it has asked
// to be painted.
// Closing asks them to stop and joins them before the link, the conversion
// and the preview are freed.
//
// The libraries' diagnostics on standard error are captured and shown in the
// console in order with its lines, at most 200 per operator command.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "preview.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "quenlo_app.h"
#include "window_ui.h"
#include "worker_thread.h"

class QAction;
class QCheckBox;
class QComboBox;
class QMenu;
class QToolButton;
class QFrame;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class CBacSel;
class CTraSel;
class CMviewer;
class COpenGLUtil;
namespace quenlo::qt {
class PortCombo;
}

class CQuenloDlg : public QDialog {
    Q_OBJECT

  public:
    // devices: where the port list finds the system's serial devices.
    explicit CQuenloDlg(QWidget* parent = nullptr,
                        quenlo::PortScan::Source devices = quenlo::ListSerialDevices);
    ~CQuenloDlg() override;

    // The state the operations share, and the window as they see it.
    quenlo::DialogState& state() { return state_; }
    quenlo::qt::WindowUi& ui() { return ui_; }

    // ---- Operations (window thread) --------------------------------------
    // The command line's files and port, once the window shows.
    void Start(const quenlo::qt::StartupRequest& request);
    void ClearConsole();
    void ResetConversion();
    // Both ask for a conversion on conversion_worker_: it starts once this
    // thread's current event is handled, with the files and rate shown then.
    // A request while one runs waits for its end, and any reset makes the
    // running one's result count for nothing.
    void TryAutoConversion();
    void Convert();
    // A conversion is asked for or runs: its buttons are off meanwhile.
    bool ConversionRunning() const { return converting_ || conversion_wanted_.has_value(); }
    // Runs on the conversion's thread before each conversion (tests hold it there).
    void SetConversionHook(std::function<void()> hook) { conversion_hook_ = std::move(hook); }
    // The drop targets' handlers, also used by the command line. A glTF scene
    // dropped on the model field is imported on import_worker_, then its model
    // and motions are taken as if dropped.
    void DropBac(const std::vector<std::string>& paths);
    void DropTra(const std::vector<std::string>& paths);
    // During a playback new files are refused with a console line.
    bool RefuseWhilePlaying();
    void MoveUp() { MoveEntry(-1); }
    void MoveDown() { MoveEntry(+1); }
    void DeleteEntry();
    // File dialogs: a model (as if dropped on the model field), and motions,
    // several at once (as if dropped on the list).
    void OpenModel();
    void AddMotions();
    void ShowAbout();
    // Port list entry `index` (0: close the link), or a typed device (index -1).
    void SelectPort(int index, const std::string& port_text);
    void TransferToRom();
    // The ROM menu: the board's ROM into a file, and a saved file back into it
    // (after a question), each on the link worker with the transfer's close
    // rules; a check item asks for a backup file before every transfer.
    void SaveRomToFile();
    void RestoreRomFromFile();
    QMenu* rom_menu() { return rom_menu_; }
    // The system's serial devices not listed yet join the port list.
    void ListPorts();
    // The preview thread of a playback: with the robot active it
    // follows the live thread step by step, else it plays alone. Nothing
    // happens without a preview.
    void StartPreview(const quenlo::PlaybackSettings& settings);
    void StartPreview(bool play_all) { StartPreview(quenlo::ReadPlaybackSettings(ui_, play_all)); }
    // Shows the preview's model of the conversion running (read on its
    // thread) and turns the camera to it.
    void ShowConversion(quenlo::preview::ModelCopy model);
    // Whether a conversion's preview is worth reading; from any thread.
    bool PreviewReady() const;
    COpenGLUtil* renderer() { return renderer_.get(); }
    CMviewer* viewer() { return viewer_; }

    // Play or Play all pressed: starts a playback, or stops the one running.
    void PlayPressed(bool play_all);
    bool LivePlaybackRunning() const { return motion_worker_.Running(); }

    // Play and Play all follow the conversion rules; link work holds them off.
    void EnablePlay(bool enable);
    void EnablePlayAll(bool enable);

    // Asks every worker to stop and joins them. Afterwards no worker starts
    // again.
    void StopWorkers();
    bool LinkWorkRunning() const { return link_worker_.Running(); }
    bool ImportRunning() const { return import_worker_.Running(); }

    // The desktop session is ending: a close request as any other. Answers
    // true when the window stays (a ROM transfer finishes first), so that the
    // session's end is to be cancelled where the session manager allows it.
    bool SessionEnding();

    // An operator command: diagnostics are counted from its start, and those
    // beyond the limit are reported at its end.
    class Operation {
      public:
        explicit Operation(CQuenloDlg& dlg) : dlg_(dlg) { dlg_.BeginOperation(); }
        ~Operation() { dlg_.EndOperation(); }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

      private:
        CQuenloDlg& dlg_;
    };

  protected:
    // Close button and Escape alike come here.
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class quenlo::qt::WindowUi;
    void BuildControls();
    void ConnectControls();
    // Console lines go to standard output and the pane; diagnostics to the pane.
    void AppendConsole(std::string_view text);
    // A worker's line, on standard output already, in order with the worker's
    // own log: shown after the diagnostics captured before it was made
    // (`diagnostics_before`, from DiagnosticsCaptured), before later ones.
    void ShowWorkerLine(std::string_view text, uint64_t diagnostics_before);
    static constexpr uint64_t kAllDiagnostics = UINT64_MAX;
    void AppendToPane(std::string_view text);
    void CaptureDiagnostic(std::string_view line);  // the reader thread's
    // Every diagnostic written so far captured, how many there have been; any thread.
    uint64_t DiagnosticsCaptured();
    void ShowDiagnostics(uint64_t before = kAllDiagnostics);
    void BeginOperation();
    void EndOperation();
    void ShowHeldDiagnostics();

    void ImportScene(const std::string& scene);
    void MoveEntry(int step);
    // Qt's file dialog in the folder used last; the chosen files, none when cancelled.
    QStringList ChooseFiles(const char* title, const char* filter, bool several);
    // The same dialog for a file to write (it confirms replacing one); empty when cancelled.
    std::string ChooseNewFile(const char* title);
    // The motion list's context menu: add, move, delete.
    void ShowMotionMenu(const QPoint& at);
    // Tooltips of every control.
    void DescribeControls();
    void RateChanged();
    enum class ConversionKind { Button, Auto };
    void RequestConversion(ConversionKind kind);
    void StartConversion();
    void ConversionEnded(std::unique_ptr<CDataInfo> data);
    // Takes a conversion's result: held and shown, or none.
    void TakeConversion(std::unique_ptr<CDataInfo> data);
    void ApplyConvertButton();
    void ApplyPlayButtons();
    void SetUpPreview();
    void ClosePreview();
    // The preview thread's stop at close: it ends after the frame shown. Never waits.
    void StopPreview();

    void ConnectStartupPort();
    void PortChosen(int index);
    void PortTyped();
    // Runs body on the link worker, then its answer here; the link's controls
    // are off meanwhile.
    void StartLinkWork(quenlo::qt::WorkerThread::Body body);
    void ApplyLinkControls();
    // Notices a board that has gone while the link is idle.
    void WatchLink();
    void BuildRomMenu();
    void ShowRomMenu(const QPoint& global);
    // Runs a ROM job on the link worker with the transfer's close rules (`writes`:
    // a close waits for its end) or stopped by a close (a read only).
    void StartRomWork(bool writes, quenlo::qt::WorkerThread::Body body);
    bool BeginRomMenuWork();
    void AbandonRomWork();
    void RomTransferEnded();
    void CloseDuringRomTransfer();
    // The progress bar: each part of ROM work from empty, with its name; empty after.
    void ShowRomPhase(quenlo::RomPhase phase);
    void ClearProgress();

    using PortCombo = quenlo::qt::PortCombo;
    QPlainTextEdit* console_ = nullptr;
    PortCombo* port_list_ = nullptr;
    QPushButton* rom_button_ = nullptr;
    QToolButton* rom_menu_button_ = nullptr;  // opens rom_menu_, beside the ROM button
    QMenu* rom_menu_ = nullptr;
    QAction* save_rom_ = nullptr;
    QAction* restore_rom_ = nullptr;
    QAction* backup_first_ = nullptr;  // checked: a backup file before each transfer
    QPushButton* clear_button_ = nullptr;
    QComboBox* serial_speed_ = nullptr;
    QComboBox* servo_speed_ = nullptr;
    QComboBox* rate_list_ = nullptr;
    CBacSel* bac_field_ = nullptr;
    CTraSel* motion_list_ = nullptr;
    QPushButton* up_button_ = nullptr;
    QPushButton* down_button_ = nullptr;
    QPushButton* delete_button_ = nullptr;
    QPushButton* convert_button_ = nullptr;
    QPushButton* play_button_ = nullptr;
    QPushButton* play_all_button_ = nullptr;
    QComboBox* interval_list_ = nullptr;
    QCheckBox* loop_box_ = nullptr;
    QFrame* preview_frame_ = nullptr;   // the preview\'s place
    CMviewer* viewer_ = nullptr;        // inside it
    QProgressBar* progress_ = nullptr;  // bytes of ROM work, under the console

    QString file_folder_;   // where the file dialogs open
    QString startup_port_;  // the command line's, connected once its files are converted

    bool convert_offered_ = false;  // by the conversion rules, when no conversion runs
    bool play_enabled_ = false;     // by the conversion rules
    bool play_all_enabled_ = false;
    std::string link_port_;     // the port of the open link
    bool playing_all_ = false;  // the playback running was started by Play all
    int busy_depth_ = 0;
    bool closing_ = false;
    bool rom_transfer_ = false;            // ROM writes run on the link worker
    bool close_after_transfer_ = false;    // a close was asked for meanwhile
    QPointer<QMessageBox> stop_question_;  // asking whether to stop the transfer now

    quenlo::PortScan port_scan_;

    std::mutex diagnostics_mutex_;
    std::vector<std::string> diagnostics_;  // captured, not shown yet
    uint64_t diagnostics_captured_ = 0;     // ever, the last of diagnostics_ included
    quenlo::DiagnosticLimit diagnostic_limit_;
    int operation_depth_ = 0;
    std::unique_ptr<quenlo::StderrCapture> stderr_capture_;

    quenlo::DialogState state_;
    quenlo::qt::WindowUi ui_{*this};
    std::unique_ptr<COpenGLUtil> renderer_;  // the preview's; null without OpenGL
    quenlo::qt::WorkerThread link_worker_{this};
    quenlo::qt::WorkerThread preview_worker_{this};
    quenlo::qt::WorkerThread motion_worker_{this};  // the live playback
    quenlo::qt::WorkerThread import_worker_{this};  // a glTF scene dropped

    quenlo::qt::WorkerThread conversion_worker_{this};
    std::optional<ConversionKind> conversion_wanted_;  // waits to start
    bool conversion_start_posted_ = false;
    bool converting_ = false;  // from the start until the result is handled here
    // Counts resets: a conversion started under an older count is outdated.
    uint64_t conversion_serial_ = 0;
    uint64_t converting_serial_ = 0;  // the count the running one started under
    std::function<void()> conversion_hook_;
};
