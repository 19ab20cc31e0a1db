// CQuenloDlg: the main window. Its controls carry the object names "ctl<ID>" of
// the control table; its operations are the core's (quenlo/core.h), shown here.
//
// Threads. Everything here runs on the window's thread except what a worker
// calls through OperatorUi, which CallOnUi serves on that thread. Link work (a
// connection attempt, a ROM transfer) runs on link_worker_; playback and the
// preview add their workers with AddWorker. Closing stops and joins them all
// before the link, the conversion and the preview are freed.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "quenlo/core.h"
#include "quenlo_app.h"
#include "worker_thread.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class CBacSel;
class CTraSel;

class CQuenloDlg : public QDialog, public quenlo::OperatorUi, public quenlo::DialogState {
    Q_OBJECT

  public:
    explicit CQuenloDlg(QWidget* parent = nullptr);
    ~CQuenloDlg() override;

    // ---- OperatorUi: callable from any thread ----------------------------
    void ConsoleWrite(std::string_view text) override;
    bool Confirm(std::string_view caption, std::string_view text) override;
    void SetBusy(bool busy) override;

    // ---- Operations (window thread) --------------------------------------
    // The command line's files and port, once the window shows.
    void Start(const quenlo::qt::StartupRequest& request);
    void ClearConsole();
    void ResetConversion();
    void TryAutoConversion();
    void Convert();
    // The drop targets' handlers, also used by the command line.
    void DropBac(const std::vector<std::string>& paths);
    void DropTra(const std::vector<std::string>& paths);
    void MoveUp() { MoveEntry(-1); }
    void MoveDown() { MoveEntry(+1); }
    void DeleteEntry();
    void ShowAbout();

    // Play and Play all follow the conversion rules; link work holds them off.
    void EnablePlay(bool enable);
    void EnablePlayAll(bool enable);

    // A worker the window stops and joins at close (playback, preview).
    void AddWorker(quenlo::qt::WorkerThread& worker) { workers_.push_back(&worker); }
    // Asks every worker to stop, serves their requests until all have ended,
    // joins them. Afterwards no worker starts again.
    void StopWorkers();

  protected:
    // Close button and Escape alike come here.
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BuildControls();
    void ConnectControls();
    void AppendConsole(std::string_view text);
    void MoveEntry(int step);
    void RateChanged();
    // Takes a conversion's result: held and shown, or none.
    void TakeConversion(std::unique_ptr<CDataInfo> data);
    void ApplyPlayButtons();

    QPlainTextEdit* console_ = nullptr;       // 1000
    QComboBox* port_list_ = nullptr;          // 1001
    QPushButton* rom_button_ = nullptr;       // 1003
    QPushButton* clear_button_ = nullptr;     // 1004
    QComboBox* serial_speed_ = nullptr;       // 1005
    QComboBox* servo_speed_ = nullptr;        // 1006
    QComboBox* rate_list_ = nullptr;          // 1007
    CBacSel* bac_field_ = nullptr;            // 1008
    CTraSel* motion_list_ = nullptr;          // 1010
    QPushButton* up_button_ = nullptr;        // 1011
    QPushButton* down_button_ = nullptr;      // 1012
    QPushButton* delete_button_ = nullptr;    // 1013
    QPushButton* convert_button_ = nullptr;   // 1014
    QPushButton* play_button_ = nullptr;      // 1015
    QPushButton* play_all_button_ = nullptr;  // 1017
    QComboBox* interval_list_ = nullptr;      // 1019
    QCheckBox* loop_box_ = nullptr;           // 1021
    QFrame* preview_frame_ = nullptr;         // 1023, the preview's place
    QProgressBar* progress_ = nullptr;        // bytes of a ROM transfer, under the console

    bool play_enabled_ = false;  // by the conversion rules
    bool play_all_enabled_ = false;
    int busy_depth_ = 0;
    bool closing_ = false;

    quenlo::qt::WorkerThread link_worker_;
    std::vector<quenlo::qt::WorkerThread*> workers_;
};
