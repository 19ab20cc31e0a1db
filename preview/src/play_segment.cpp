// One step of a motion on screen: its frames posed from the bones' tracks and
// repainted one by one, each held for the frame period.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "preview.h"
#include "quenlo/platform.h"

using namespace quenlo::preview;

namespace {

// Truncated toward zero, held to the int32 range.
int32_t ToInt32(float frame) {
    if (!(frame > -2147483648.0f)) return INT32_MIN;
    if (frame >= 2147483648.0f) return INT32_MAX;
    return static_cast<int32_t>(frame);
}

}  // namespace

void CPreviewScene::PlaySegment(int32_t startup, int32_t period, int32_t count, float f0,
                                float span) {
    if (count <= 0) return;
    // A step prepared more slowly than it lasts has no time left: it shows its
    // first frame and waits no more.
    const int64_t planned = int64_t{period} * count - startup;
    const float total = static_cast<float>(std::max<int64_t>(planned, 0));
    float played = 0.0f;
    quenlo::Clock& clock = *clock_;
    const uint32_t segment_start = clock.NowMs();
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t frame_start = clock.NowMs();
        const float frame = span == 0.0f || total == 0.0f ? f0 : f0 + span * (played / total);
        {
            std::lock_guard<std::mutex> lock(pose_mutex_);
            for (const auto& bone : bones_)
                if (bone) SetPose(*bone, ToInt32(frame));
        }
        if (repaint_) repaint_();
        if (stop_requested()) return;
        const int32_t wait = ToInt32(std::min(total - played, static_cast<float>(period)));
        const int32_t d =
            static_cast<int32_t>(frame_start + static_cast<uint32_t>(wait) - clock.NowMs());
        if (d > 2) clock.SleepMs(static_cast<uint32_t>(d - 1));
        played += static_cast<float>(period);
        if (played >= total) {
            const float elapsed = static_cast<float>(clock.NowMs() - segment_start);
            quenlo::LogOut(" time=%g %g\r\n", total, elapsed - total);
            return;
        }
    }
}
