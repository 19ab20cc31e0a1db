#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

std::mutex g_sink_mutex;
LogSink g_sink;

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
    std::lock_guard lock(g_sink_mutex);
    g_sink = std::move(sink);
}

void LogWrite(Stream stream, std::string_view text) {
    std::lock_guard lock(g_sink_mutex);
    if (g_sink) {
        g_sink(stream, text);
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
        (s == Stream::Out ? out_ : err_).append(text);
    });
}

LogCapture::~LogCapture() { SetLogSink({}); }

}  // namespace quenlo
