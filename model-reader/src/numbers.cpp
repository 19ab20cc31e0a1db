// Locale-safe number reading for the value handlers.
#include "numbers.h"

#include <locale.h>

#include <cstdio>
#include <cstdlib>

#include "chars.h"

namespace quenlo::figread {
namespace {

// Numbers are read in the C locale whatever the host program has set.
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

}  // namespace

int ToInt(const std::string& s) {
    return static_cast<int>(std::strtoll(s.c_str(), nullptr, 10));
}

float ToFloat(const std::string& s) {
    return strtof_l(s.c_str(), nullptr, CLocale());
}

// sscanf also takes a bare exponent mark ("1e 2 3" reads 1 2 3), which
// strtof leaves behind. It never looks past the blank after the third word, so
// only that much is handed to it: a long line costs no more than the words.
Vec3 ReadThree(const char* p) {
    const char* q = p;
    for (int word = 0; word < 3; ++word) {
        while (IsSpace(static_cast<unsigned char>(*q))) ++q;
        while (*q && !IsSpace(static_cast<unsigned char>(*q))) ++q;
    }
    if (*q) ++q;
    const std::string head(p, q);
    Vec3 v{};
    locale_t previous = uselocale(CLocale());
    [[maybe_unused]] int read = std::sscanf(head.c_str(), " %f %f %f ", &v[0], &v[1], &v[2]);
    uselocale(previous);
    return v;
}

}  // namespace quenlo::figread
