// The board link in the window: the port list and the ROM transfer. The core
// decides (refusals, captions, console lines); the attempt and the transfer
// themselves run on the link worker while the window goes on.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <utility>

#include "drop_targets.h"
#include "port_combo.h"
#include "quenlo_dlg.h"
#include "usbio.h"

namespace {

std::string Bytes(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

void CQuenloDlg::ListPorts() {
    for (const std::string& port : port_scan_.ListPorts(ui_))
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
    const std::optional<std::string> port = quenlo::BeginSelectPort(ui_, state_, index, port_text);
    if (!port) return;
    if (index < 0) {
        // A typed device joins the list, so the list shows what is connected.
        const QSignalBlocker quiet(port_list_);
        port_list_->addItem(QString::fromUtf8(port->c_str()));
        port_list_->setCurrentIndex(port_list_->count() - 1);
    }
    StartLinkWork([this, name = *port](std::stop_token) {
        const int speed = quenlo::ConnectBoard(ui_, *state_.m_pUsbIO, name.c_str());
        return [this, speed, name] {
            quenlo::EndSelectPort(ui_, state_, speed);
            link_port_ = speed >= 0 ? name : std::string();
        };
    });
}

void CQuenloDlg::TransferToRom() {
    Operation operation(*this);
    std::optional<quenlo::RomContent> content =
        quenlo::BeginRomTransfer(ui_, state_, motion_list_->count(), interval_list_->currentIndex(),
                                 rate_list_->currentIndex());
    if (!content) return;
    progress_->setValue(0);
    rom_transfer_ = true;
    StartLinkWork([this, image = std::move(*content)](std::stop_token stop) {
        quenlo::RomTransferOptions options;
        options.stop_after_block = std::move(stop);
        quenlo::WriteRomImage(ui_, *state_.m_pUsbIO, image, options);
        return [this] { RomTransferEnded(); };
    });
}

void CQuenloDlg::RomTransferEnded() {
    rom_transfer_ = false;
    if (!close_after_transfer_) return;
    // The close asked for during the transfer, now that the board has its program.
    if (stop_question_) stop_question_->done(QMessageBox::No);
    QTimer::singleShot(0, this, [this] { reject(); });
}

// A close request during a ROM transfer: the first one waits for its end, a
// further one asks whether to stop it now.
void CQuenloDlg::CloseDuringRomTransfer() {
    if (!close_after_transfer_) {
        close_after_transfer_ = true;
        ui_.ConsolePrint("ROM転送が終わってから終了します\r\n");
        return;
    }
    if (stop_question_) return;  // already asking
    QMessageBox box(QMessageBox::Question, "確認",
                    "ROM転送を今すぐ中止しますか？\n\n"
                    "中止すると、ボードのROMには完全なプログラムが残りません。"
                    "もう一度ROM転送するか、保存しておいたROMを"
                    "「ファイルからROMへ書き戻す...」で書き戻すと元に戻せます。",
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    stop_question_ = &box;
    const int answer = box.exec();
    stop_question_ = nullptr;
    if (answer == QMessageBox::Yes && rom_transfer_) link_worker_.RequestStop();
}

void CQuenloDlg::StartLinkWork(quenlo::qt::WorkerThread::Body body) {
    ApplyLinkControls();
    BeginOperation();  // the worker's lines count with the command that started it
    auto end = [this] {
        quenlo::EndLinkWork(state_);
        ApplyLinkControls();
        EndOperation();
    };
    const bool started = link_worker_.Start([body = std::move(body), end](std::stop_token stop) {
        quenlo::qt::WorkerThread::Finish finish = body(std::move(stop));
        return quenlo::qt::WorkerThread::Finish([finish = std::move(finish), end] {
            if (finish) finish();
            end();
        });
    });
    if (!started) end();  // closing: nothing starts
}

// About once a second while the link is open and idle: the port is looked at
// without sending anything. A device node that is gone (unplugged, or the
// simulator ended) closes the link, as the first entry would.
void CQuenloDlg::WatchLink() {
    if (!state_.LinkOpen() || state_.m_bLinkBusy || state_.m_bPlaying || link_port_.empty()) return;
    std::error_code error;
    if (std::filesystem::exists(quenlo::SerialDevicePath(link_port_), error) || error) return;
    Operation operation(*this);
    const std::string port = std::exchange(link_port_, std::string());
    state_.m_pUsbIO.reset();  // closes the port
    state_.m_nLinkSpeed = -1;
    ui_.SetPortEntry0("未接続");
    ui_.SelectPortEntry(0);
    ui_.ConsolePrint("ポートが切断されました: %s\r\n", port.c_str());
    ApplyPlayButtons();
}

void CQuenloDlg::ApplyLinkControls() {
    ApplyPlayButtons();
}
