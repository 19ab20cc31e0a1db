// The board link in the window: the port list, link work and the watch on an
// idle link. The core decides (refusals, captions, console lines); the attempt
// itself runs on the link worker while the window goes on.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>
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
    StartLinkWork([this, name = *port](std::stop_token stop) {
        // A close ends the attempt within a read's wait, even on a silent board.
        CUsbIO& link = *state_.m_pUsbIO;
        link.SetStopToken(std::move(stop));
        const int speed = quenlo::ConnectBoard(ui_, link, name.c_str());
        link.SetStopToken({});
        return [this, speed, name] {
            quenlo::EndSelectPort(ui_, state_, speed);
            link_port_ = speed >= 0 ? name : std::string();
        };
    });
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
// without sending anything. A device that has hung up or gone (unplugged, or
// the simulator ended) closes the link, as the first entry would.
void CQuenloDlg::WatchLink() {
    if (!state_.LinkOpen() || state_.m_bLinkBusy || state_.m_bPlaying || link_port_.empty()) return;
    if (state_.m_pUsbIO && state_.m_pUsbIO->IsAlive()) return;
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
