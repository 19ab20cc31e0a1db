// The ROM button and the ROM menu: refusals and the confirmation on the
// user-interface thread, then the work on whichever thread holds the link.
#include "conversion.h"
#include "quenlo/core.h"
#include "usbio.h"

namespace quenlo {

namespace {

// What holds every ROM job off; true, with its line, when one does.
bool RomWorkRefused(OperatorUi& ui, const DialogState& state) {
    if (!state.LinkOpen()) {
        ui.ConsoleFail("RCB-4HVと通信が確立していません\r\n");
        return true;
    }
    if (state.m_bLinkBusy) {
        ui.ConsoleFail("操作は無効です\r\n");
        return true;
    }
    if (state.m_bPlaying) {
        ui.ConsoleFail("モーション再生中です\r\n");
        return true;
    }
    return false;
}

}  // namespace

bool BeginRomWork(OperatorUi& ui, DialogState& state) {
    if (RomWorkRefused(ui, state)) return false;
    state.m_bLinkBusy = true;
    return true;
}

std::optional<RomContent> BeginRomTransfer(OperatorUi& ui, DialogState& state, int entry_count,
                                           int interval_index, int rate_index,
                                           const std::function<bool()>& prepare) {
    if (RomWorkRefused(ui, state)) return std::nullopt;
    if (!state.m_bConverted || !state.m_pDataInfo) {
        ui.ConsoleFail("データ変換されていません\r\n");
        return std::nullopt;
    }
    if (!ui.Confirm("確認", "ROMへ転送しますか？") || (prepare && !prepare())) {
        ui.ConsoleFail("転送しません\r\n");
        return std::nullopt;
    }
    if (!state.m_pUsbIO) {
        ui.ConsoleFail("転送が中断しました\r\n");
        return std::nullopt;
    }
    ui.ConsolePrint("転送をはじめます\r\n");
    // Taken here, on the thread that owns the conversion: the transfer itself
    // needs nothing of it.
    RomContent content =
        MakeRomContent(*state.m_pDataInfo, entry_count, IntervalMs(interval_index), rate_index);
    state.m_bLinkBusy = true;
    return content;
}

bool TransferToRom(OperatorUi& ui, DialogState& state, int entry_count, int interval_index,
                   int rate_index) {
    const std::optional<RomContent> content =
        BeginRomTransfer(ui, state, entry_count, interval_index, rate_index);
    if (!content) return false;
    const bool ok = WriteRomImage(ui, *state.m_pUsbIO, *content);
    EndLinkWork(state);
    return ok;
}

}  // namespace quenlo
