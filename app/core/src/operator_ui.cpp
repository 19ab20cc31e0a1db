#include <cstdarg>
#include <cstdio>

#include "conversion.h"
#include "quenlo/core.h"
#include "usbio.h"

namespace quenlo {

void OperatorUi::ConsolePrint(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    ConsoleFormat(LineKind::Info, fmt, args);
    va_end(args);
}

void OperatorUi::ConsoleFail(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    ConsoleFormat(LineKind::Failure, fmt, args);
    va_end(args);
}

void OperatorUi::ConsoleFormat(LineKind kind, const char* fmt, va_list args) {
    char text[500];  // 499 characters and the terminating zero
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    if (n < 0) return;
    size_t len = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    ConsoleLine(std::string_view(text, len), kind);
}

// Out of line, where the owned classes are complete.
int OperatorUi::SelectedMotion() {
    return -1;
}
int OperatorUi::MotionCount() {
    return 0;
}
int OperatorUi::RateIndex() {
    return kDefaultRate;
}
int OperatorUi::IntervalIndex() {
    return kDefaultInterval;
}
bool OperatorUi::LoopChecked() {
    return false;
}

DialogState::DialogState() = default;
DialogState::~DialogState() = default;

int IntervalMs(int index) {
    return index >= 0 && index < 5 ? kIntervalMs[index] : 0;
}

bool DiagnosticLimit::Take() {
    if (shown_ < limit_) {
        ++shown_;
        return true;
    }
    ++held_;
    return false;
}

std::string DiagnosticLimit::End() {
    std::string line;
    if (held_ > 0) {
        char text[96];
        std::snprintf(text, sizeof text, "診断メッセージ %d 行を省略しました\r\n", held_);
        line = text;
    }
    Begin();
    return line;
}

}  // namespace quenlo
