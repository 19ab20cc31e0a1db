// The ROM transfer: boot program, play loop, servo settings and one slot per
// motion, then the read-back and a reboot so the board runs the image on its own.
#include <cstdint>
#include <iterator>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "rom_steps.h"
#include "usbio.h"

namespace quenlo {
namespace {

int PeriodCode(int rate_index) {
    return rate_index >= 0 && rate_index < static_cast<int>(std::size(kRates))
               ? kRates[rate_index].period_code
               : 0;
}

board::RomImage Build(const RomContent& content) {
    return board::BuildRomImage(
        {content.motors, content.entries, content.interval_ms, PeriodCode(content.rate_index)});
}

// The layout: refusals on the console, the rest on standard output.
bool ShowLayout(OperatorUi& ui, const board::RomImage& image) {
    for (const board::RomLine& line : image.layout) {
        if (line.console)
            ui.ConsoleFail("%s", line.text.c_str());
        else
            LogWrite(Stream::Out, line.text);
    }
    return image.fits;
}

// One block: its log lines and its ROM write.
bool WriteBlock(CUsbIO& link, const board::RomWrite& write) {
    if (!write.before.empty()) LogWrite(Stream::Out, write.before);
    const bool ok =
        link.WriteRom(write.address, write.bytes.data(), static_cast<int>(write.bytes.size()));
    if (!write.after.empty()) LogWrite(Stream::Out, write.after);
    return ok;
}

}  // namespace

uint32_t RomImageEnd(const RomContent& content) {
    return Build(content).end;
}

bool MakeRomImage(OperatorUi& ui, const RomContent& content, std::vector<uint8_t>& bytes) {
    const board::RomImage image = Build(content);
    if (!ShowLayout(ui, image)) return false;
    for (const board::RomPart& part : image.parts)
        for (const board::RomWrite& write : part.writes)
            LogWrite(Stream::Out, write.before + write.after);
    bytes = image.Bytes();
    return true;
}

bool WriteRomImage(OperatorUi& ui, CUsbIO& link, const RomContent& content,
                   const RomTransferOptions& options) {
    const board::RomImage image = Build(content);
    if (!ShowLayout(ui, image)) return false;
    detail::Session session(link);
    if (options.backup && !detail::Backup(ui, link, image.end, options)) return false;

    size_t done = 0;
    ui.ShowRomPhase(RomPhase::Write);
    ui.ShowProgress(0, image.total);
    link.ForgetWrittenRom();
    if (!board::StopSystem(link)) return detail::Interrupted(ui, link);
    for (const board::RomPart& part : image.parts) {
        size_t part_bytes = 0;
        for (const board::RomWrite& write : part.writes) {
            if (!WriteBlock(link, write)) return detail::Interrupted(ui, link);
            part_bytes += write.bytes.size();
            if (part.progress_each) ui.ShowProgress(done += write.bytes.size(), image.total);
            // The board keeps the blocks written so far: its program is incomplete.
            if (options.stop_after_block.stop_requested()) return detail::Incomplete(ui);
        }
        if (!part.progress_each) ui.ShowProgress(done += part_bytes, image.total);
        ui.ConsolePrint("%s", part.done.c_str());
    }
    return detail::FinishTransfer(ui, link, options);
}

}  // namespace quenlo
