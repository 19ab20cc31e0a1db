// Reading the board's ROM: backups, the read-back after a transfer, and
// writing a saved image back.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "rom_steps.h"
#include "usbio.h"

namespace quenlo {
namespace {

// Progress is told after every block of this many bytes.
constexpr size_t kProgressBlock = 8 * CUsbIO::kReadChunk;

constexpr size_t kRestoreChunk = board::kLongestWrite;

enum class ReadBack { Same, Differs, NoReads, Failed };

ReadBack CompareWritten(OperatorUi& ui, CUsbIO& link, const ReadProgress& progress) {
    ui.ConsolePrint("ベリファイ中\r\n");
    ui.ShowRomPhase(RomPhase::ReadBack);
    size_t total = 0;
    for (const CUsbIO::RomRange& range : link.written_rom()) total += range.bytes.size();
    size_t done = 0;
    if (progress) progress(0, total);
    std::vector<uint8_t> got(CUsbIO::kReadChunk);
    for (const CUsbIO::RomRange& range : link.written_rom()) {
        for (size_t at = 0; at < range.bytes.size(); at += got.size()) {
            const int n = static_cast<int>(std::min(got.size(), range.bytes.size() - at));
            const uint32_t address = range.address + static_cast<uint32_t>(at);
            if (!link.ReadRom(address, got.data(), n)) {
                // A board without the read command still gets its program:
                // no failure then, the transfer goes on to the reboot.
                if (done == 0)
                    LogErr("The board does not answer memory reads: could not verify.\n");
                ui.ConsoleLine("ベリファイできませんでした\r\n",
                               done == 0 ? LineKind::Info : LineKind::Failure);
                return done == 0 ? ReadBack::NoReads : ReadBack::Failed;
            }
            const auto expected = range.bytes.begin() + static_cast<std::ptrdiff_t>(at);
            const auto [mine, theirs] = std::mismatch(expected, expected + n, got.begin());
            if (mine != expected + n) {
                const uint32_t where = address + static_cast<uint32_t>(mine - expected);
                LogErr("Verify failed at $%06X: wrote $%02X, read $%02X.\n", where, *mine, *theirs);
                ui.ConsoleFail("ベリファイエラー $%06X 書き込み %02X 読み出し %02X\r\n", where,
                               *mine, *theirs);
                return ReadBack::Differs;
            }
            done += static_cast<size_t>(n);
            if (progress) progress(done, total);
        }
    }
    ui.ConsolePrint("ベリファイOK\r\n");
    return ReadBack::Same;
}

}  // namespace

namespace detail {

bool Interrupted(OperatorUi& ui, const CUsbIO& link) {
    if (link.board_silent()) ui.ConsoleFail("ボードが応答しません\r\n");
    ui.ConsoleFail("転送が中断しました\r\n");
    return false;
}

bool Incomplete(OperatorUi& ui) {
    ui.ConsoleFail("転送を中止しました: ボードのROMのプログラムは不完全です\r\n");
    return false;
}

Session::Session(CUsbIO& link) : link_(link) {
    link_.BeginSession();
}

Session::~Session() {
    link_.EndSession();
}

bool ReadBackup(OperatorUi& ui, CUsbIO& link, uint32_t end, const RomTransferOptions& options) {
    ui.ConsolePrint("バックアップ中\r\n");
    ui.ShowRomPhase(RomPhase::Backup);
    if (options.progress) options.progress(0, end);
    std::vector<uint8_t> rom;
    if (!ReadRomRange(link, 0, end, rom, options.progress) || !options.backup(rom)) {
        ui.ConsoleFail("バックアップできませんでした\r\n");
        return false;
    }
    ui.ConsolePrint("バックアップOK\r\n");
    return true;
}

bool Backup(OperatorUi& ui, CUsbIO& link, uint32_t end, const RomTransferOptions& options) {
    if (ReadBackup(ui, link, end, options)) return true;
    ui.ConsoleFail("転送しません\r\n");
    return false;
}

bool FinishTransfer(OperatorUi& ui, CUsbIO& link, const RomTransferOptions& options) {
    if (options.verify) {
        const ReadBack result = CompareWritten(ui, link, options.progress);
        if (result == ReadBack::Differs || result == ReadBack::Failed) return Interrupted(ui, link);
    }
    ui.ConsolePrint("転送が終わりました\r\n");
    if (!board::RebootBoard(link)) return Interrupted(ui, link);
    ui.ConsolePrint("勝手に実行します\r\n");
    ui.ConsolePrint("このツールを終了してください\r\n");
    return true;
}

}  // namespace detail

bool ReadRomRange(CUsbIO& link, uint32_t from, uint32_t to, std::vector<uint8_t>& out,
                  const ReadProgress& progress) {
    out.clear();
    if (to < from || to > board::kRomAddressLimit) {
        LogErr("The ROM range $%06X to $%06X cannot be read.\n", from, to);
        return false;
    }
    std::vector<uint8_t> rom(to - from);
    for (size_t done = 0; done < rom.size();) {
        const size_t n = std::min(kProgressBlock, rom.size() - done);
        if (!link.ReadRom(from + static_cast<uint32_t>(done), rom.data() + done,
                          static_cast<int>(n)))
            return false;
        done += n;
        if (progress) progress(done, rom.size());
    }
    out = std::move(rom);
    return true;
}

bool SaveRom(OperatorUi& ui, CUsbIO& link, const RomTransferOptions& options) {
    detail::Session session(link);
    return detail::ReadBackup(ui, link, board::RomLayoutEnd(), options);
}

bool RestoreRomImage(OperatorUi& ui, CUsbIO& link, const std::vector<uint8_t>& image,
                     const RomTransferOptions& options) {
    if (image.empty()) {
        ui.ConsoleFail("ROMイメージが空のため転送できません\r\n");
        return false;
    }
    if (image.size() > board::RomLayoutEnd()) {
        ui.ConsoleFail("ROMイメージが %zu バイト超過するため転送できません\r\n",
                       image.size() - board::RomLayoutEnd());
        return false;
    }
    detail::Session session(link);
    link.ForgetWrittenRom();
    if (!board::StopSystem(link)) return detail::Interrupted(ui, link);
    LogOut("ROMイメージ転送\n");
    ui.ShowRomPhase(RomPhase::Write);
    ui.ShowProgress(0, image.size());
    for (size_t at = 0; at < image.size(); at += kRestoreChunk) {
        const int n = static_cast<int>(std::min(kRestoreChunk, image.size() - at));
        if (!link.WriteRom(static_cast<uint32_t>(at), image.data() + at, n))
            return detail::Interrupted(ui, link);
        ui.ShowProgress(at + static_cast<size_t>(n), image.size());
        if (options.stop_after_block.stop_requested() && at + n < image.size())
            return detail::Incomplete(ui);
    }
    ui.ConsolePrint("ROMイメージ %zu バイト転送OK\r\n", image.size());
    return detail::FinishTransfer(ui, link, options);
}

}  // namespace quenlo
