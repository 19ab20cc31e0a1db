// Standard error through a pipe: a reader thread hands complete lines to the
// callback and queues every chunk for a forwarder thread, which passes it on
// to the real standard error. The queue is bounded: while the real standard
// error does not take its bytes, what does not fit is dropped and counted, so
// neither the reader (nor Sync, nor the window behind it) waits for it.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "quenlo/platform.h"

namespace quenlo {

struct StderrCapture::Impl {
    LineSink line;
    int real_stderr = -1;
    int read_end = -1;
    int stop[2] = {-1, -1};
    std::thread reader;
    std::mutex mutex;
    std::condition_variable drained;
    bool busy = false;  // a chunk is out of the pipe but not yet delivered
    std::string partial;

    // The forwarder's queue.
    static constexpr size_t kQueueLimit = size_t{1} << 20;
    std::thread forwarder;
    std::mutex queue_mutex;
    std::condition_variable queue_filled;
    std::string queue;
    bool closing = false;
    std::atomic<bool> stopping{false};
    std::atomic<size_t> dropped{0};

    void Queue(const char* data, size_t n) {
        {
            std::lock_guard lock(queue_mutex);
            if (queue.size() + n > kQueueLimit) {
                dropped += static_cast<size_t>(std::count(data, data + n, '\n'));
                return;
            }
            queue.append(data, n);
        }
        queue_filled.notify_one();
    }

    // Writes text to the real standard error a pipe's atomic write at a time,
    // waiting for it to take them; once the capture ends it waits at most
    // 100 ms. Answers how much was written.
    size_t WriteOut(std::string_view text) {
        size_t done = 0;
        while (done < text.size()) {
            pollfd p{real_stderr, POLLOUT, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) break;  // gone
            if (ready == 0) {
                if (stopping) break;
                continue;
            }
            const size_t n = std::min<size_t>(text.size() - done, PIPE_BUF);
            const ssize_t w = ::write(real_stderr, text.data() + done, n);
            if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (w <= 0) break;
            done += static_cast<size_t>(w);
        }
        return done;
    }

    void RunForwarder() {
        std::unique_lock lock(queue_mutex);
        while (true) {
            queue_filled.wait(lock, [&] { return closing || !queue.empty(); });
            if (queue.empty()) return;
            const std::string out = std::move(queue);
            queue.clear();
            lock.unlock();
            const size_t done = WriteOut(out);
            if (done < out.size())
                dropped += static_cast<size_t>(std::count(out.begin() + done, out.end(), '\n'));
            lock.lock();
        }
    }

    void Deliver(const char* data, size_t n) {
        Queue(data, n);
        partial.append(data, n);
        size_t start = 0;
        for (size_t nl; (nl = partial.find('\n', start)) != std::string::npos; start = nl + 1) {
            size_t end = nl;
            if (end > start && partial[end - 1] == '\r') --end;
            line(std::string_view(partial).substr(start, end - start));
        }
        partial.erase(0, start);
    }

    // Reads what the pipe holds now; false at its end or on an error.
    bool ReadChunk() {
        char buf[8192];
        {
            std::lock_guard lock(mutex);
            busy = true;
        }
        const ssize_t n = ::read(read_end, buf, sizeof buf);
        if (n > 0) Deliver(buf, static_cast<size_t>(n));
        {
            std::lock_guard lock(mutex);
            busy = false;
        }
        drained.notify_all();
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
    }

    void Run() {
        while (true) {
            pollfd p[2] = {{read_end, POLLIN, 0}, {stop[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (p[0].revents && !ReadChunk()) break;
            if (p[1].revents) {
                // fd 2 is restored: drain what was written before that.
                while (ReadChunk()) {
                    int queued = 0;
                    if (ioctl(read_end, FIONREAD, &queued) != 0 || queued == 0) break;
                }
                break;
            }
        }
        if (!partial.empty()) {
            const std::string rest = std::move(partial);
            partial.clear();
            line(rest);
        }
    }
};

StderrCapture::StderrCapture(LineSink line) : impl_(std::make_unique<Impl>()) {
    impl_->line = std::move(line);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    if (pipe2(impl_->stop, O_CLOEXEC) != 0) {
        close(fds[0]), close(fds[1]);
        return;
    }
    impl_->real_stderr = fcntl(2, F_DUPFD_CLOEXEC, 3);
    std::fflush(stderr);
    if (impl_->real_stderr < 0 || dup2(fds[1], 2) < 0) {
        close(fds[0]), close(fds[1]);
        if (impl_->real_stderr >= 0) close(impl_->real_stderr);
        impl_->real_stderr = -1;
        return;
    }
    close(fds[1]);
    impl_->read_end = fds[0];
    fcntl(impl_->read_end, F_SETFL, fcntl(impl_->read_end, F_GETFL) | O_NONBLOCK);
    impl_->reader = std::thread([impl = impl_.get()] { impl->Run(); });
    impl_->forwarder = std::thread([impl = impl_.get()] { impl->RunForwarder(); });
}

StderrCapture::~StderrCapture() {
    if (impl_->reader.joinable()) {
        std::fflush(stderr);
        dup2(impl_->real_stderr, 2);
        const char stop = 1;
        while (::write(impl_->stop[1], &stop, 1) < 0 && errno == EINTR) {
        }
        impl_->reader.join();
        impl_->stopping = true;
        {
            std::lock_guard lock(impl_->queue_mutex);
            impl_->closing = true;
        }
        impl_->queue_filled.notify_one();
        impl_->forwarder.join();
    }
    for (int fd : {impl_->read_end, impl_->real_stderr, impl_->stop[0], impl_->stop[1]})
        if (fd >= 0) close(fd);
}

bool StderrCapture::active() const {
    return impl_->reader.joinable();
}

size_t StderrCapture::dropped_lines() const {
    return impl_->dropped;
}

void StderrCapture::Sync() {
    if (!active()) return;
    std::fflush(stderr);
    std::unique_lock lock(impl_->mutex);
    while (true) {
        int queued = 0;
        if (ioctl(impl_->read_end, FIONREAD, &queued) != 0) return;
        if (queued == 0 && !impl_->busy) return;
        // Woken by the reader after each chunk; the time-out only guards a
        // chunk that arrived between the check and the wait.
        impl_->drained.wait_for(lock, std::chrono::milliseconds(5));
    }
}

}  // namespace quenlo
