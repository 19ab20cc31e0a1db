#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

std::mutex g_sink_mutex;
// Shared so that a writer can keep the sink it took while another thread
// replaces it.
std::shared_ptr<const LogSink> g_sink;

void WriteFormatted(Stream stream, const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        LogWrite(stream, std::string_view(small, n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, args);
    big.resize(n);
    LogWrite(stream, big);
}

}  // namespace

void SetLogSink(LogSink sink) {
    auto next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(g_sink_mutex);
    g_sink.swap(next);
}

void LogWrite(Stream stream, std::string_view text) {
    std::shared_ptr<const LogSink> sink;
    {
        std::lock_guard lock(g_sink_mutex);
        sink = g_sink;
    }
    // Called outside the lock: a sink that hands the text to another thread
    // must not hold up a thread that logs meanwhile.
    if (sink) {
        (*sink)(stream, text);
        return;
    }
    FILE* f = stream == Stream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), f);
    if (stream == Stream::Out) std::fflush(f);
}

void LogOut(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    WriteFormatted(Stream::Out, fmt, args);
    va_end(args);
}

void LogErr(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    WriteFormatted(Stream::Err, fmt, args);
    va_end(args);
}

LogCapture::LogCapture() {
    SetLogSink([this](Stream s, std::string_view text) {
        std::lock_guard lock(mutex_);
        (s == Stream::Out ? out_ : err_).append(text);
    });
}

LogCapture::~LogCapture() { SetLogSink({}); }

}  // namespace quenlo
