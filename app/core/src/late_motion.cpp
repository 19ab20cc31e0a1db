#include "late_motion.h"

#include "quenlo/core.h"

namespace quenlo {

bool ReportLateMotion(OperatorUi& ui, uint64_t designed_us, uint64_t took_us) {
    if (designed_us == 0 || took_us * 10 <= designed_us * 11) return false;
    const auto s = [](uint64_t us) { return static_cast<int>(us / 1000000); };
    const auto h = [](uint64_t us) { return static_cast<int>(us / 1000 % 1000 / 10); };
    ui.ConsolePrint(
        " 警告: 再生に %d\"%02d かかりました (設計 %d\"%02d): ボードの応答が再生レートの周期より"
        "遅いことが主な原因です\r\n",
        s(took_us), h(took_us), s(designed_us), h(designed_us));
    return true;
}

}  // namespace quenlo
