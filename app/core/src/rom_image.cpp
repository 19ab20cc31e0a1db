// The ROM transfer: boot program, play loop, servo settings and one slot per
// motion, then the read-back and a reboot so the board runs the image on its own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "rom_steps.h"
#include "usbio.h"

namespace quenlo {
namespace {

using Frames = std::vector<std::vector<uint8_t>>;

constexpr int kReturnLength = 3;

// A frame is stored with the length its byte 0 gives; it must hold that many,
// and one ROM write must carry it.
bool WellFormed(const std::vector<uint8_t>& frame) {
    return !frame.empty() && frame[0] >= 3 && frame[0] <= board::kLongestWrite &&
           frame[0] <= frame.size();
}

// The home command stored by the boot program: the first frame of motion 0.
const uint8_t* HomeCommand(const RomContent& content) {
    if (!content.entries.empty() && !content.entries[0].empty() &&
        WellFormed(content.entries[0][0]))
        return content.entries[0][0].data();
    return nullptr;
}

// Bytes of a slot: its frames and the RETURN.
int64_t SlotBytes(const Frames& frames) {
    int64_t used = kReturnLength;
    for (const std::vector<uint8_t>& frame : frames)
        if (WellFormed(frame)) used += frame[0];
    return used;
}

// The board keeps whatever is written before a failure, so everything that
// could not fit is found before the first write. Every problem gets its line;
// the layout goes to standard output so the operator sees how close it is.
bool LayoutFits(OperatorUi& ui, const RomContent& content, int records, int home_length) {
    bool fits = true;
    const int64_t records_end =
        board::kRomServoRecords + int64_t{board::kServoRecordSize} * records;
    if (records_end > board::kRomMotionBase) {
        ui.ConsolePrint("モーター設定が %lld バイト超過するため転送できません\r\n",
                        static_cast<long long>(records_end - board::kRomMotionBase));
        fits = false;
    }
    const int64_t program_end = int64_t{CUsbIO::BootProgramLength(records, home_length)} +
                                CUsbIO::MotionLoopLength(static_cast<int>(content.entries.size()));
    LogOut("ROM layout: boot program and play loop %lld of %u bytes\n",
           static_cast<long long>(program_end), board::kRomProgramEnd);
    if (program_end > board::kRomProgramEnd) {
        ui.ConsolePrint(
            "初期設定実行部とモーション再生部が %lld バイト超過するため転送できません\r\n",
            static_cast<long long>(program_end - board::kRomProgramEnd));
        fits = false;
    }
    for (size_t i = 0; i < content.entries.size(); ++i) {
        const Frames& frames = content.entries[i];
        const int64_t slot = board::kRomMotionBase + int64_t{board::kRomSlotSize} * i;
        if (slot + board::kRomSlotSize > board::kRomAddressLimit) {
            ui.ConsolePrint("モーション %zu はROMの範囲を超えるため転送できません\r\n", i + 1);
            fits = false;
            continue;
        }
        const auto bad = std::find_if_not(frames.begin(), frames.end(), WellFormed);
        if (bad != frames.end()) {
            ui.ConsolePrint("モーション %zu コマンド %zu が壊れているため転送できません\r\n", i + 1,
                            static_cast<size_t>(bad - frames.begin()) + 1);
            fits = false;
            continue;
        }
        const int64_t used = SlotBytes(frames);
        LogOut(" motion %zu at $%06llX: %lld of %u bytes\n", i + 1,
               static_cast<unsigned long long>(slot), static_cast<long long>(used),
               board::kRomSlotSize);
        if (used > board::kRomSlotSize) {
            ui.ConsolePrint("モーション %zu が %lld バイト超過するため転送できません\r\n", i + 1,
                            static_cast<long long>(used - board::kRomSlotSize));
            fits = false;
        }
    }
    return fits;
}

// Bytes the transfer writes into ROM, for its progress bar.
size_t ImageBytes(const RomContent& content, int records, int home_length) {
    size_t total =
        static_cast<size_t>(CUsbIO::BootProgramLength(records, home_length)) +
        static_cast<size_t>(CUsbIO::MotionLoopLength(static_cast<int>(content.entries.size()))) +
        static_cast<size_t>(records) * board::kServoRecordSize + 2 * board::kServoTableEntries;
    for (const Frames& frames : content.entries) total += static_cast<size_t>(SlotBytes(frames));
    return total;
}

int PeriodCode(int rate_index) {
    return rate_index >= 0 && rate_index < static_cast<int>(std::size(kRates))
               ? kRates[rate_index].period_code
               : 0;
}

}  // namespace

uint32_t RomImageEnd(const RomContent& content) {
    const int records =
        CUsbIO::RecordCount(static_cast<int>(content.motors.size()), content.motors.data());
    const uint8_t* home = HomeCommand(content);
    int64_t end = std::max<int64_t>({
        int64_t{CUsbIO::BootProgramLength(records, home ? home[0] : 0)} +
            CUsbIO::MotionLoopLength(static_cast<int>(content.entries.size())),
        board::kRomServoTable + 2 * board::kServoTableEntries,
        board::kRomServoRecords + int64_t{board::kServoRecordSize} * records,
    });
    for (size_t i = 0; i < content.entries.size(); ++i)
        end = std::max(end, board::kRomMotionBase +
                                int64_t{board::kRomSlotSize} * static_cast<int64_t>(i) +
                                SlotBytes(content.entries[i]));
    return static_cast<uint32_t>(std::min<int64_t>(end, board::kRomAddressLimit));
}

bool WriteRomImage(OperatorUi& ui, CUsbIO& link, const RomContent& content,
                   const RomTransferOptions& options) {
    const int motor_count = static_cast<int>(content.motors.size());
    const int32_t* motors = content.motors.data();
    // Records are written only for motors with a place in the servo table, and
    // the boot program copies exactly those.
    const int records = CUsbIO::RecordCount(motor_count, motors);
    const uint8_t* home = HomeCommand(content);
    const int home_length = home ? home[0] : 0;
    if (!LayoutFits(ui, content, records, home_length)) return false;
    if (options.backup && !detail::Backup(ui, link, RomImageEnd(content), options)) return false;

    const size_t total = ImageBytes(content, records, home_length);
    size_t done = 0;
    auto progress = [&](size_t bytes) { ui.ShowProgress(done += bytes, total); };
    ui.ShowProgress(0, total);

    link.ForgetWrittenRom();
    if (!link.WriteBootProgram(records, home, PeriodCode(content.rate_index)))
        return detail::Interrupted(ui);
    progress(static_cast<size_t>(link.rom_cursor()));
    ui.ConsolePrint("初期設定実行部転送OK\r\n");
    const int motion_count = static_cast<int>(content.entries.size());
    if (!link.WriteMotionLoop(motion_count, content.interval_ms)) return detail::Interrupted(ui);
    progress(static_cast<size_t>(CUsbIO::MotionLoopLength(motion_count)));
    ui.ConsolePrint("モーション再生部転送OK\r\n");
    if (!link.WriteServoSettings(motor_count, motors)) return detail::Interrupted(ui);
    progress(static_cast<size_t>(records) * board::kServoRecordSize +
             2 * board::kServoTableEntries);
    ui.ConsolePrint("モーター設定実行部転送OK\r\n");

    for (int i = 0; i < motion_count; ++i) {
        const Frames& frames = content.entries[static_cast<size_t>(i)];
        link.set_motion_write_address(
            static_cast<int32_t>(board::kRomMotionBase + board::kRomSlotSize * i));
        for (const std::vector<uint8_t>& frame : frames) {
            if (!link.WriteRom(static_cast<uint32_t>(link.motion_write_address()), frame.data(),
                               frame[0]))
                return detail::Interrupted(ui);
            link.set_motion_write_address(link.motion_write_address() + frame[0]);
            progress(frame[0]);
        }
        if (!link.WriteReturn()) return detail::Interrupted(ui);
        progress(kReturnLength);
        ui.ConsolePrint("モーション %d コマンド %d 転送OK\r\n", i + 1,
                        static_cast<int>(frames.size()));
    }
    return detail::FinishTransfer(ui, link, options);
}

}  // namespace quenlo
