// The port list: the system's serial devices, connecting to the chosen port
// and closing the link again.
#include <algorithm>
#include <new>

#include "quenlo/core.h"
#include "usbio.h"

namespace quenlo {
namespace {

// The longest port name the list takes from a friendly name.
constexpr size_t kPortNameMax = 31;

// The port name in the friendly name's last parentheses, which must close it;
// empty when there is none.
std::string PortName(const std::string& friendly) {
    const size_t open = friendly.rfind('(');
    if (open == std::string::npos) return {};
    const size_t close = friendly.find(')', open);
    if (close == std::string::npos || close - open - 1 > kPortNameMax || close == open + 1)
        return {};
    return friendly.substr(open + 1, close - open - 1);
}

// A speed field of the system register image as a list index; 3 has no entry.
int SpeedEntry(int code) {
    return code < 3 ? code : -1;
}

}  // namespace

PortScan::PortScan(Source source) : source_(std::move(source)) {}

std::vector<std::string> PortScan::ListPorts(OperatorUi& ui) {
    std::vector<std::string> ports;
    const std::vector<SerialDevice> devices = source_ ? source_() : std::vector<SerialDevice>{};
    for (size_t i = 0; i < devices.size(); ++i) {
        const SerialDevice& d = devices[i];
        if (d.description.empty()) continue;  // unreadable: skipped without a line
        const std::string key = d.description + '\n' + d.friendly_name;
        if (std::find(seen_.begin(), seen_.end(), key) != seen_.end()) continue;
        seen_.push_back(key);
        ui.ConsolePrint("%d : %s", static_cast<int>(i), d.description.c_str());
        if (!d.friendly_name.empty()) {
            ui.ConsolePrint(" [ %s ]", d.friendly_name.c_str());
            std::string port = PortName(d.friendly_name);
            if (!port.empty()) ports.push_back(std::move(port));
        }
        ui.ConsolePrint("\r\n");
    }
    return ports;
}

int ConnectBoard(OperatorUi& ui, CUsbIO& link, const char* port) {
    const int speed = link.Connect(port);
    if (speed < 0)
        ui.ConsoleFail("%s 接続失敗\r\n", port);
    else
        ui.ConsolePrint("%s 接続成功\r\n", port);
    return speed;
}

void EndLinkWork(DialogState& state) {
    state.m_bLinkBusy = false;
}

std::optional<std::string> BeginSelectPort(OperatorUi& ui, DialogState& state, int index,
                                           const std::string& port_text) {
    if (state.m_bPlaying || state.m_bLinkBusy) {
        ui.ConsoleFail("操作は無効です\r\n");
        return std::nullopt;
    }
    if (index == 0) {
        if (!state.LinkOpen()) return std::nullopt;
        state.m_pUsbIO.reset();
        state.m_nLinkSpeed = -1;
        ui.SetPortEntry0("未接続");
        ui.ConsolePrint("切断しました\r\n");
        return std::nullopt;
    }
    const std::string port = port_text.substr(0, std::min(port_text.size(), size_t{63}));
    if (port.empty()) {
        ui.SelectPortEntry(0);
        return std::nullopt;
    }
    if (!state.m_pUsbIO) {
        try {
            state.m_pUsbIO = std::make_unique<CUsbIO>();
        } catch (const std::bad_alloc&) {
            ui.SelectPortEntry(0);
            return std::nullopt;
        }
    }
    state.m_bLinkBusy = true;
    return port;
}

void EndSelectPort(OperatorUi& ui, DialogState& state, int speed) {
    EndLinkWork(state);
    if (speed < 0) {
        // Connect closed the old port before it failed: the link is closed now.
        if (state.LinkOpen()) {
            state.m_nLinkSpeed = -1;
            ui.SetPortEntry0("未接続");
        }
        ui.SelectPortEntry(0);
        return;
    }
    ui.SetPortEntry0("切断");
    state.m_nLinkSpeed = speed;
    const uint16_t image = state.m_pUsbIO ? state.m_pUsbIO->system_register() : 0;
    ui.ShowLinkSpeeds(SpeedEntry(board::SpeedCode(image)),
                      SpeedEntry((image >> board::kSysServoSpeedShift) & 3));
}

void SelectPort(OperatorUi& ui, DialogState& state, int index, const std::string& port_text) {
    const std::optional<std::string> port = BeginSelectPort(ui, state, index, port_text);
    if (!port) return;
    const int speed = ConnectBoard(ui, *state.m_pUsbIO, port->c_str());
    EndSelectPort(ui, state, speed);
}

}  // namespace quenlo
