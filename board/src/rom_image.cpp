// The ROM image without a board: the layout check with its lines, then the
// writes of every part in the order a transfer sends them, and the bytes they
// leave in ROM.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "servo_table.h"
#include "usbio.h"

namespace quenlo::board {
namespace {

using Frames = std::vector<std::vector<uint8_t>>;

constexpr int kReturnLength = 3;

// A frame is stored with the length its byte 0 gives; it must hold that many,
// and one ROM write must carry it.
bool WellFormed(const std::vector<uint8_t>& frame) {
    return !frame.empty() && frame[0] >= 3 && frame[0] <= kLongestWrite && frame[0] <= frame.size();
}

// The home command stored by the boot program: the first frame of motion 0.
const uint8_t* HomeCommand(const RomSource& source) {
    if (!source.motions.empty() && !source.motions[0].empty() && WellFormed(source.motions[0][0]))
        return source.motions[0][0].data();
    return nullptr;
}

// Bytes of a slot: its frames and the RETURN.
int64_t SlotBytes(const Frames& frames) {
    int64_t used = kReturnLength;
    for (const std::vector<uint8_t>& frame : frames)
        if (WellFormed(frame)) used += frame[0];
    return used;
}

__attribute__((format(printf, 3, 4))) void Line(RomImage& image, bool console, const char* fmt,
                                                ...) {
    char text[500];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    image.layout.push_back({console, text});
}

// Every problem gets its line; the layout goes to standard output so the
// operator sees how close it is.
bool LayoutFits(RomImage& image, const RomSource& source, int records, int home_length) {
    bool fits = true;
    const int64_t records_end = kRomServoRecords + int64_t{kServoRecordSize} * records;
    if (records_end > kRomMotionBase) {
        Line(image, true, "モーター設定が %lld バイト超過するため転送できません\r\n",
             static_cast<long long>(records_end - kRomMotionBase));
        fits = false;
    }
    const int64_t program_end = int64_t{BootProgramLength(records, home_length)} +
                                MotionLoopLength(static_cast<int>(source.motions.size()));
    Line(image, false, "ROM layout: boot program and play loop %lld of %u bytes\n",
         static_cast<long long>(program_end), kRomProgramEnd);
    if (program_end > kRomProgramEnd) {
        Line(image, true,
             "初期設定実行部とモーション再生部が %lld バイト超過するため転送できません\r\n",
             static_cast<long long>(program_end - kRomProgramEnd));
        fits = false;
    }
    for (size_t i = 0; i < source.motions.size(); ++i) {
        const Frames& frames = source.motions[i];
        const int64_t slot = kRomMotionBase + int64_t{kRomSlotSize} * static_cast<int64_t>(i);
        if (slot + kRomSlotSize > kRomAddressLimit) {
            Line(image, true, "モーション %zu はROMの範囲を超えるため転送できません\r\n", i + 1);
            fits = false;
            continue;
        }
        const auto bad = std::find_if_not(frames.begin(), frames.end(), WellFormed);
        if (bad != frames.end()) {
            Line(image, true, "モーション %zu コマンド %zu が壊れているため転送できません\r\n",
                 i + 1, static_cast<size_t>(bad - frames.begin()) + 1);
            fits = false;
            continue;
        }
        const int64_t used = SlotBytes(frames);
        Line(image, false, " motion %zu at $%06llX: %lld of %u bytes\n", i + 1,
             static_cast<unsigned long long>(slot), static_cast<long long>(used), kRomSlotSize);
        if (used > kRomSlotSize) {
            Line(image, true, "モーション %zu が %lld バイト超過するため転送できません\r\n", i + 1,
                 static_cast<long long>(used - kRomSlotSize));
            fits = false;
        }
    }
    return fits;
}

std::string Done(const char* fmt, int a, int b) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

}  // namespace

RomImage BuildRomImage(const RomSource& source) {
    RomImage image;
    const int motor_count = static_cast<int>(source.motors.size());
    const int32_t* motors = source.motors.data();
    // Records are written only for motors with a place in the servo table, and
    // the boot program copies exactly those.
    const int records = RecordCount(motor_count, motors);
    const uint8_t* home = HomeCommand(source);
    image.fits = LayoutFits(image, source, records, home ? home[0] : 0);
    if (!image.fits) return image;

    RomAssembler program;
    program.BootProgram(records, home, source.period_code);
    image.parts.push_back({program.Take(), "初期設定実行部転送OK\r\n"});
    const int motion_count = static_cast<int>(source.motions.size());
    program.MotionLoop(motion_count, source.interval_ms);
    image.parts.push_back({program.Take(), "モーション再生部転送OK\r\n"});
    program.ServoSettings(motor_count, motors);
    image.parts.push_back({program.Take(), "モーター設定実行部転送OK\r\n"});
    for (int i = 0; i < motion_count; ++i) {
        const Frames& frames = source.motions[static_cast<size_t>(i)];
        uint32_t at = kRomMotionBase + kRomSlotSize * static_cast<uint32_t>(i);
        for (const std::vector<uint8_t>& frame : frames) {
            program.Raw(at, frame.data(), frame[0]);
            at += frame[0];
        }
        program.Return(at);
        image.parts.push_back(
            {program.Take(),
             Done("モーション %d コマンド %d 転送OK\r\n", i + 1, static_cast<int>(frames.size())),
             true});
    }
    for (const RomPart& part : image.parts)
        for (const RomWrite& write : part.writes) {
            image.total += write.bytes.size();
            image.end =
                std::max(image.end, write.address + static_cast<uint32_t>(write.bytes.size()));
        }
    return image;
}

std::vector<uint8_t> RomImage::Bytes() const {
    std::vector<uint8_t> bytes(end, 0xFF);
    for (const RomPart& part : parts)
        for (const RomWrite& write : part.writes)
            std::copy(write.bytes.begin(), write.bytes.end(), bytes.begin() + write.address);
    return bytes;
}

}  // namespace quenlo::board
