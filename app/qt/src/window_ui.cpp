#include "window_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "drop_targets.h"
#include "port_combo.h"
#include "quenlo_dlg.h"
#include "ui_thread.h"

namespace quenlo::qt {
namespace {

QString FromBytes(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

template <class Fn>
void WindowUi::Show(Fn&& fn) {
    if (QThread::currentThread() == dlg_.thread())
        fn();
    else
        PostToUi(&dlg_, std::forward<Fn>(fn));
}

void WindowUi::ConsoleWrite(std::string_view text) {
    if (QThread::currentThread() == dlg_.thread()) return dlg_.AppendConsole(text);
    // A worker's line goes to standard output at once, in order with its log,
    // and to the pane after what the libraries wrote before it, not after
    // what they write while the line is on its way.
    LogWrite(Stream::Out, text);
    PostToUi(&dlg_, [this, line = std::string(text), before = dlg_.DiagnosticsCaptured()] {
        dlg_.ShowWorkerLine(line, before);
    });
}

bool WindowUi::Confirm(std::string_view caption, std::string_view text) {
    // Asked by the operations of the window's thread only.
    return QMessageBox::question(&dlg_, FromBytes(caption), FromBytes(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void WindowUi::SetBusy(bool busy) {
    Show([this, busy] {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++dlg_.busy_depth_;
        } else if (dlg_.busy_depth_ > 0) {
            QApplication::restoreOverrideCursor();
            --dlg_.busy_depth_;
        }
    });
}

// On the conversion's thread, while the libraries hold its model: the
// preview's copy is read here and shown by the window's thread in its place
// among the lines.
void WindowUi::ShowConversion(CDataInfo& data) {
    if (!dlg_.PreviewReady()) return;
    auto model = std::make_shared<quenlo::preview::ModelCopy>(CPreviewScene::ReadBacObject(data));
    Show([this, model] { dlg_.ShowConversion(std::move(*model)); });
}

void WindowUi::SetPortEntry0(std::string_view caption) {
    Show([this, text = FromBytes(caption)] { dlg_.port_list_->setItemText(0, text); });
}

void WindowUi::SelectPortEntry(int index) {
    Show([this, index] {
        const QSignalBlocker quiet(dlg_.port_list_);
        dlg_.port_list_->setCurrentIndex(index);
        // Typed text that was not taken goes too: the list shows the link's state.
        dlg_.port_list_->setEditText(dlg_.port_list_->itemText(index));
    });
}

void WindowUi::ShowLinkSpeeds(int serial, int servo) {
    Show([this, serial, servo] {
        for (auto [list, index] :
             {std::pair{dlg_.serial_speed_, serial}, std::pair{dlg_.servo_speed_, servo}}) {
            const QSignalBlocker quiet(list);
            list->setCurrentIndex(index);
        }
    });
}

void WindowUi::ShowRomPhase(RomPhase phase) {
    Show([this, phase] { dlg_.ShowRomPhase(phase); });
}

void WindowUi::ShowProgress(size_t done, size_t total) {
    Show([this, done, total] {
        dlg_.progress_->setRange(0, static_cast<int>(std::max<size_t>(total, 1)));
        dlg_.progress_->setValue(static_cast<int>(std::min(done, total)));
    });
}

void WindowUi::ShowPlayingMotion(int entry) {
    Show([this, entry] { dlg_.motion_list_->setCurrentRow(entry); });
}

// Read when a playback starts, on the window's thread.
int WindowUi::SelectedMotion() {
    return dlg_.motion_list_->currentRow();
}

int WindowUi::MotionCount() {
    return dlg_.motion_list_->count();
}

int WindowUi::RateIndex() {
    return dlg_.rate_list_->currentIndex();
}

void WindowUi::EnableControl(Control control, bool enable) {
    Show([this, control, enable] {
        switch (control) {
            case Control::Play:
                return dlg_.EnablePlay(enable);
            case Control::PlayAll:
                return dlg_.EnablePlayAll(enable);
            case Control::MoveUp:
                return dlg_.up_button_->setEnabled(enable);
            case Control::MoveDown:
                return dlg_.down_button_->setEnabled(enable);
            case Control::MotionList:
                return dlg_.motion_list_->setEnabled(enable);
            case Control::BacField:
                return dlg_.bac_field_->setEnabled(enable);
            case Control::Delete:
                return dlg_.delete_button_->setEnabled(enable);
            case Control::PortList:
                return dlg_.ApplyPlayButtons();  // follows the playback and the link
            case Control::RateList:
                return dlg_.rate_list_->setEnabled(enable);
        }
    });
}

void WindowUi::SetCaption(Control control, std::string_view caption) {
    Show([this, control, text = FromBytes(caption)] {
        if (control == Control::Play) dlg_.play_button_->setText(text);
        if (control == Control::PlayAll) dlg_.play_all_button_->setText(text);
    });
}

}  // namespace quenlo::qt
