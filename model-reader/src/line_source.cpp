// The two line sources, each folding CR LF into LF.
#include "line_source.h"

#include <algorithm>
#include <cstring>

namespace quenlo::figread {

size_t MemorySource::Next(char* buf, size_t max) {
    // Most pieces hold no CR: copy them whole.
    const char* p = text_.data() + pos_;
    size_t n = std::min(max, text_.size() - pos_);
    if (const void* nl = std::memchr(p, '\n', n)) n = static_cast<const char*>(nl) - p + 1;
    if (!std::memchr(p, '\r', n)) {
        std::memcpy(buf, p, n);
        pos_ += n;
        return n;
    }
    n = 0;
    while (n < max && pos_ < text_.size()) {
        char c = text_[pos_++];
        if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') c = text_[pos_++];
        buf[n++] = c;
        if (c == '\n') break;
    }
    return n;
}

size_t FileSource::Next(char* buf, size_t max) {
    size_t n = 0;
    while (n < max) {
        int c = getc_unlocked(f_);
        if (c == EOF) break;
        if (c == '\r') {
            int next = getc_unlocked(f_);
            if (next == '\n')
                c = next;
            else if (next != EOF)
                ungetc(next, f_);
        }
        buf[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    return n;
}

}  // namespace quenlo::figread
