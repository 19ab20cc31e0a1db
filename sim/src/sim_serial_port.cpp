// A serial port whose other end is a BoardSim in the same process, with time
// on a clock the caller controls.
#include "board_sim.h"

namespace quenlo::sim {

SimSerialPort::SimSerialPort(BoardSim& board, Clock* clock) : board_(board), clock_(clock) {
    if (!clock_) {
        own_clock_ = std::make_unique<ManualClock>();
        clock_ = own_clock_.get();
    }
    Clock* c = clock_;
    board_.SetTimeSource([c] { return c->NowUs(); });
}

SerialError SimSerialPort::Open(const std::string& path, uint32_t baud) {
    Close();
    if (fail_next_open_ != SerialError::None) {
        SerialError e = fail_next_open_;
        fail_next_open_ = SerialError::None;
        return e;
    }
    if (board_.hung_up()) return SerialError::Open;
    open_ = true;
    path_ = path;
    baud_ = baud;
    ++open_count_;
    board_.SetPeerBaud(baud);
    return SerialError::None;
}

void SimSerialPort::Close() {
    if (!open_) return;
    open_ = false;
    pending_.clear();
    next_ = 0;
    board_.SetPeerBaud(0);
    board_.ResetReceiver();
}

long SimSerialPort::Write(const uint8_t* data, size_t n, int /*timeout_ms*/) {
    if (!open_ || board_.hung_up()) return -1;
    std::vector<uint8_t> reply;
    board_.Feed(data, n, reply);
    const uint32_t ready = clock_->NowMs() + board_.options().reply_delay_ms;
    for (uint8_t b : reply) pending_.push_back({b, ready});
    return static_cast<long>(n);
}

int SimSerialPort::ReadByte(uint8_t& out, int timeout_ms) {
    if (!open_) return -1;
    const uint32_t timeout = timeout_ms > 0 ? static_cast<uint32_t>(timeout_ms) : 0;
    if (next_ < pending_.size()) {
        const Pending& p = pending_[next_];
        const int32_t wait = static_cast<int32_t>(p.ready_ms - clock_->NowMs());
        if (wait > 0) {
            if (static_cast<uint32_t>(wait) > timeout) {
                if (timeout) clock_->SleepMs(timeout);
                return 0;
            }
            clock_->SleepMs(static_cast<uint32_t>(wait));
        }
        out = p.byte;
        if (++next_ == pending_.size()) pending_.clear(), next_ = 0;
        return 1;
    }
    if (board_.hung_up()) return -1;
    if (timeout) clock_->SleepMs(timeout);
    return 0;
}

void SimSerialPort::DiscardInput() {
    const uint32_t now = clock_->NowMs();
    while (next_ < pending_.size() && static_cast<int32_t>(pending_[next_].ready_ms - now) <= 0)
        ++next_;
    if (next_ == pending_.size()) pending_.clear(), next_ = 0;
}

}  // namespace quenlo::sim
