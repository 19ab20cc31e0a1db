// Character classes of the C locale, as the patterns and sscanf see them.
#pragma once

namespace quenlo::figread {

inline bool IsSpace(unsigned c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

}  // namespace quenlo::figread
