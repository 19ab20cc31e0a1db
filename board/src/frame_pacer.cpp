// Live playback's pacing by the board's frame period. Its sleeps go through
// the link, so a stop request cuts them short.
#include <algorithm>

#include "usbio.h"

using quenlo::LogOut;

namespace quenlo::board {

void FramePacer::WaitFrames(int frames, uint32_t start_ms) {
    const int duration = frames * link_.frame_period_ms();
    if (duration == 0) return;
    const int elapsed = static_cast<int>(link_.clock().NowMs() - start_ms);
    LogOut(" wait loss %dms\r\n", elapsed);
    if (duration - elapsed >= 1) link_.SleepMs(static_cast<uint32_t>(duration - elapsed));
}

uint64_t FramePacer::WaitFramesAfter(int frames, uint64_t due_us) {
    const uint64_t next = due_us + uint64_t(std::max(frames, 0)) * link_.frame_period_ms() * 1000u;
    const uint64_t now = link_.clock().NowUs();
    if (next == due_us) return std::max(due_us, now);
    LogOut(" wait loss %dms\r\n", now > due_us ? static_cast<int>((now - due_us) / 1000) : 0);
    if (next <= now) return now;
    link_.SleepUntilUs(next);
    return next;
}

}  // namespace quenlo::board
