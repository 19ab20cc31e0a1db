// Helpers for the figread tests: analyse text from memory and capture the
// diagnostics written to standard error.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "figread.h"
#include "reader.h"

namespace quenlo::figread::test {

struct Outcome {
    int result;
    std::string err;
};

inline Outcome Analyze(std::string_view text) {
    testing::internal::CaptureStderr();
    int r = AnalyzeText(text);
    return {r, testing::internal::GetCapturedStderr()};
}

// A file of the minimal header (lines 1 to 3) followed by the given lines.
inline std::string Bac(std::initializer_list<std::string_view> lines) {
    std::string s = ";BAC\n(bacVersion 6)\n(Figure\n";
    for (std::string_view l : lines) (s += l) += '\n';
    return s;
}

inline std::string Poly(int p) {
    int v[4];
    int n = fnbacGetPolygonVertex(p, v);
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? " " : "") + std::to_string(v[i]);
    return s;
}

inline std::string Vec(void (*get)(int, float*), int i) {
    float v[3];
    get(i, v);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%g %g %g", v[0], v[1], v[2]);
    return buf;
}

}  // namespace quenlo::figread::test
