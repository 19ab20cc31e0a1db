// The reader's entry points: an analysis fills the state it is given.
// Kept free of Oniguruma's header, whose names clash with POSIX regex.h.
// Internal to figread: the program sees only the flat exports of figread.h.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bac_model.h"

namespace quenlo::figread {

// Header checks and chunk scan over the whole text of a file; answers what
// fnbacanalysis answers (0 when the scan reached the end, 1 otherwise).
int AnalyzeText(ReaderState& state, std::string_view text);
// The same, reading an open file from its current position.
int AnalyzeFile(ReaderState& state, std::FILE* file);

// The library's one state, which the C exports answer on; it lives beside
// them (queries.cpp).
ReaderState& State();
// AnalyzeText into the library's state, for tests, fuzzing and benchmarks.
int AnalyzeText(std::string_view text);

// For tests: searches every pattern of the reader over each text both with
// Oniguruma's own search and by trying only the positions where a match can
// begin first; answers the first difference found, or an empty text
// (matcher.cpp).
std::string FirstSearchDisagreement(const std::vector<std::string>& texts);

}  // namespace quenlo::figread
