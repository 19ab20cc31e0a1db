// The board link in the window: the port list and the ROM transfer. The core
// decides (refusals, captions, console lines); the attempt and the transfer
// themselves run on the link worker while the window goes on.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "drop_targets.h"
#include "port_combo.h"
#include "quenlo_dlg.h"
#include "ui_thread.h"
#include "usbio.h"

using quenlo::qt::CallOnUi;

namespace {

std::string Bytes(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

void CQuenloDlg::ListPorts() {
    for (const std::string& port : port_scan_.ListPorts(*this))
        port_list_->addItem(QString::fromUtf8(port.c_str()));
}

void CQuenloDlg::PortChosen(int index) {
    SelectPort(index, Bytes(port_list_->itemText(index)));
}

void CQuenloDlg::PortTyped() {
    const QString typed = port_list_->currentText().trimmed();
    const int index = port_list_->findText(typed);
    if (index >= 0) {
        const QSignalBlocker quiet(port_list_);
        port_list_->setCurrentIndex(index);
        PortChosen(index);
        return;
    }
    SelectPort(-1, Bytes(typed));
}

void CQuenloDlg::SelectPort(int index, const std::string& port_text) {
    Operation operation(*this);
    const std::optional<std::string> port = quenlo::BeginSelectPort(*this, *this, index, port_text);
    if (!port) return;
    if (index < 0) {
        // A typed device joins the list, so the list shows what is connected.
        const QSignalBlocker quiet(port_list_);
        port_list_->addItem(QString::fromUtf8(port->c_str()));
        port_list_->setCurrentIndex(port_list_->count() - 1);
    }
    StartLinkWork(
        [this, name = *port] {
            link_answer_ = quenlo::ConnectBoard(*this, *m_pUsbIO, name.c_str());
        },
        [this] { quenlo::EndSelectPort(*this, *this, link_answer_); });
}

void CQuenloDlg::TransferToRom() {
    Operation operation(*this);
    std::optional<quenlo::RomContent> content =
        quenlo::BeginRomTransfer(*this, *this, motion_list_->count(),
                                 interval_list_->currentIndex(), rate_list_->currentIndex());
    if (!content) return;
    progress_->setValue(0);
    StartLinkWork(
        [this, image = std::move(*content)] { quenlo::WriteRomImage(*this, *m_pUsbIO, image); },
        [] {});
}

void CQuenloDlg::StartLinkWork(std::function<void()> body, std::function<void()> finished) {
    ApplyLinkControls();
    BeginOperation();  // the worker's lines count with the command that started it
    auto end = [this, finished = std::move(finished)] {
        finished();
        quenlo::EndLinkWork(*this);
        ApplyLinkControls();
        EndOperation();
    };
    if (!link_worker_.Start(std::move(body), end)) end();  // closing: nothing starts
}

void CQuenloDlg::ApplyLinkControls() {
    const bool free = !m_bLinkBusy;
    port_list_->setEnabled(free);
    rom_button_->setEnabled(free);
    ApplyPlayButtons();
}

// ---- OperatorUi: the link's controls ----------------------------------------

void CQuenloDlg::SetPortEntry0(std::string_view caption) {
    CallOnUi(this, [this, caption] {
        port_list_->setItemText(
            0, QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    });
}

void CQuenloDlg::SelectPortEntry(int index) {
    CallOnUi(this, [this, index] {
        const QSignalBlocker quiet(port_list_);
        port_list_->setCurrentIndex(index);
        // Typed text that was not taken goes too: the list shows the link's state.
        port_list_->setEditText(port_list_->itemText(index));
    });
}

void CQuenloDlg::ShowLinkSpeeds(int serial, int servo) {
    CallOnUi(this, [this, serial, servo] {
        for (auto [list, index] :
             {std::pair{serial_speed_, serial}, std::pair{servo_speed_, servo}}) {
            const QSignalBlocker quiet(list);
            list->setCurrentIndex(index);
        }
    });
}

void CQuenloDlg::ShowProgress(size_t done, size_t total) {
    // Posted: the transfer need not wait for the bar.
    quenlo::qt::PostToUi(this, [this, done, total] {
        progress_->setRange(0, static_cast<int>(std::max<size_t>(total, 1)));
        progress_->setValue(static_cast<int>(std::min(done, total)));
    });
}
