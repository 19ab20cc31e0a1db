// The ROM transfer job: the image of boot program, play loop, servo table and
// motion slots written into the board's ROM, read back, restored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"

class CDataInfo;
class CUsbIO;

namespace quenlo {

// Everything a ROM image holds, by motion-list position. An entry whose file
// produced no commands has an empty frame list: an empty slot, nothing to play.
struct RomContent {
    std::vector<int32_t> motors;                             // motor codes, bone order
    std::vector<std::vector<std::vector<uint8_t>>> entries;  // frame commands per entry
    int interval_ms = 0;                                     // transition between motions
    // Playback-rate list index: the boot program sets its base frame period.
    // -1 (none) leaves the board at 10 ms, as images made before the rate did.
    int rate_index = -1;
};

// Collects the commands of each motion-list entry from a conversion, finding
// each entry's record by its motion number.
RomContent MakeRomContent(const CDataInfo& data, int entry_count, int interval_ms,
                          int rate_index = -1);

// Progress of a long read: bytes done of the total.
using ReadProgress = std::function<void(size_t done, size_t total)>;

// What a ROM transfer does besides writing.
struct RomTransferOptions {
    // Read back every written range before the reboot; a difference stops the
    // transfer. A board that does not answer reads still gets its program.
    bool verify = true;
    // When set, gets the ROM from address 0 up to the image's last byte, read
    // before the first write; answering false stops the transfer unwritten.
    std::function<bool(const std::vector<uint8_t>& rom)> backup;
    // Of the backup and the read-back (ShowProgress counts the bytes written).
    ReadProgress progress;
    // A stop requested here ends the writes after the current block (one ROM
    // write): no read-back, no reboot, and the console says that the board
    // now holds an incomplete program.
    std::stop_token stop_after_block;
};

// Writes boot program, play loop, servo settings and motion slots into the
// board's ROM, reads them back and reboots the board, logging each part to the
// console and showing the bytes written. Checks the layout before the first
// write and logs it on standard output. Answers true when everything was
// written (and read back the same). Runs on the thread that holds the link.
bool WriteRomImage(OperatorUi& ui, CUsbIO& link, const RomContent& content,
                   const RomTransferOptions& options = {});

// One past the last ROM byte the transfer of `content` writes.
uint32_t RomImageEnd(const RomContent& content);

// The bytes the transfer of `content` leaves in ROM from address 0 (0xFF where
// it writes nothing), without a board: logs the layout and the program as the
// transfer does. False, with the layout's refusals, when it does not fit.
bool MakeRomImage(OperatorUi& ui, const RomContent& content, std::vector<uint8_t>& image);

// Writes a saved ROM image back from address 0, reads it back and reboots the
// board, as a transfer does. An empty image, or one beyond the ROM layout, is
// refused before anything is written. options.backup is not used.
bool RestoreRomImage(OperatorUi& ui, CUsbIO& link, const std::vector<uint8_t>& image,
                     const RomTransferOptions& options = {});

// The ROM menu's save: reads the ROM from address 0 to the end of the layout
// and hands it to options.backup, with the backup's console lines. A stop
// requested on the link ends the reads; nothing on the board changes.
bool SaveRom(OperatorUi& ui, CUsbIO& link, const RomTransferOptions& options);

// A saved ROM image file. False, with the reason in `why` ("cannot use PATH:
// REASON", or its size against `limit`), when it is not a regular file, cannot
// be read, is empty or holds more than `limit` bytes.
bool ReadRomImageFile(const std::string& path, size_t limit, std::vector<uint8_t>& out,
                      std::string& why);

// Reads ROM bytes [from, to) into out, reporting progress as it goes. False
// (after the link's line on standard error) when any read fails.
bool ReadRomRange(CUsbIO& link, uint32_t from, uint32_t to, std::vector<uint8_t>& out,
                  const ReadProgress& progress = {});

// The ROM button, on the user-interface thread: the refusals (no link, link
// work or playback running, no conversion), the confirmation and the opening
// line. Answers the image to write, with m_bLinkBusy raised; the caller runs
// WriteRomImage on state.m_pUsbIO and then EndLinkWork. entry_count is the
// motion list's length; interval_index and rate_index are list indexes (-1: none).
// `prepare` runs after the confirmation (choosing where a backup goes, say);
// answering false ends there with "転送しません".
std::optional<RomContent> BeginRomTransfer(OperatorUi& ui, DialogState& state, int entry_count,
                                           int interval_index, int rate_index,
                                           const std::function<bool()>& prepare = {});
// The ROM menu's work (saving the ROM, writing a saved image back), on the
// user-interface thread: the ROM button's refusals but the conversion's.
// True with m_bLinkBusy raised; the caller runs the work on state.m_pUsbIO and
// then EndLinkWork.
bool BeginRomWork(OperatorUi& ui, DialogState& state);
// All of it on the caller's thread.
bool TransferToRom(OperatorUi& ui, DialogState& state, int entry_count, int interval_index,
                   int rate_index);

}  // namespace quenlo
