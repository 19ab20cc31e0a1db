// The board link job: the port list, connecting and closing.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"
#include "quenlo/platform.h"

class CUsbIO;

namespace quenlo {

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

}  // namespace quenlo
