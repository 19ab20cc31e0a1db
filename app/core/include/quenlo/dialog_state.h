// The main window's state that its operations share, and its fixed lists.
#pragma once

#include <atomic>
#include <iterator>
#include <memory>

class CDataInfo;
class CUsbIO;

namespace quenlo {

// The main window's state that its operations and worker threads share.
// The owning pointers and the link speed change only on the user-interface
// thread, and only while no worker uses them (no playback, no link work); the
// flags are atomics, each with the one meaning written beside it.
struct DialogState {
    DialogState();
    ~DialogState();
    DialogState(const DialogState&) = delete;
    DialogState& operator=(const DialogState&) = delete;

    std::unique_ptr<CUsbIO> m_pUsbIO;        // the board link, made on the first port choice
    int m_nLinkSpeed = -1;                   // speed index of the open link; -1: no link
    std::unique_ptr<CDataInfo> m_pDataInfo;  // the conversion held, if any
    bool m_bConverted = false;               // a conversion is held and shown

    std::atomic<bool> m_bBoardReady{false};  // full board set-up done since the last model drop
    // A playback runs (live or the preview alone), from its start until its end
    // has been handled; only the user-interface thread writes it. Stopping is
    // the stop request of the playback's own thread, never this flag.
    std::atomic<bool> m_bPlaying{false};
    std::atomic<bool> m_bRobotActive{false};  // a link was open when the playback started
    // The live thread to the preview: the index of the command just handed to
    // the board (written before m_bCommandSent is raised, which is notified),
    // and whether it still sends (raised before it starts, lowered at its end).
    std::atomic<bool> m_bCommandSent{false};
    std::atomic<int> m_nCommandIndex{0};
    std::atomic<bool> m_bLiveRunning{false};
    std::atomic<bool> m_bLinkBusy{false};  // a connection attempt or a ROM transfer runs

    bool LinkOpen() const { return m_nLinkSpeed >= 0; }
};

// The fixed lists of the main window.
struct RateEntry {
    const char* text;
    int time_scale;   // board frames per motion-time unit
    int period_code;  // base frame period: 0 = 10, 1 = 15, 2 = 20, 3 = 25 ms
};
inline constexpr RateEntry kRates[9] = {
    {"10", 1, 0}, {"15", 1, 1}, {"20", 1, 2}, {"25", 1, 3}, {"30", 2, 1},
    {"40", 2, 2}, {"45", 3, 1}, {"50", 2, 3}, {"60", 3, 2},
};
inline constexpr int kDefaultRate = 3;
// The time one motion-time unit takes at a rate list index: time scale x base
// period (the list's own text, 10 to 60 ms); the default rate's for a bad index.
inline constexpr int RateMs(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kRates))) index = kDefaultRate;
    return kRates[index].time_scale * (10 + 5 * kRates[index].period_code);
}
inline constexpr const char* kIntervalTexts[5] = {"なし", "100ms", "500ms", "1秒", "2秒"};
inline constexpr int kIntervalMs[5] = {0, 100, 500, 1000, 2000};
inline constexpr int kDefaultInterval = 3;

// Transition interval for a list index; no selection (or a bad one) is 0 ms.
int IntervalMs(int index);

}  // namespace quenlo
