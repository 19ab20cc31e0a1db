// The format's patterns and Oniguruma searches over them, with the long-run
// shortcut that keeps lines of many blanks or digits linear.
#pragma once

#include <oniguruma.h>

#include <cstddef>
#include <vector>

namespace quenlo::figread {

// Every pattern the reader uses, as the format defines them.
enum Pat {
    kBacLine,
    kVersion,
    kFigure,
    kKeyword,
    kQuoted,
    kWord,
    kBoolean,
    kInteger,
    kIntegerPair,
    kOneNumber,
    kTwoNumbers,
    kThreeNumbers,
    kMotorTag,
    kClosing,
    kFaceForm,
    kTriangle,
    kQuad,
    kPatCount
};

// Runs of white space or digits long enough to matter, in line order.
struct Run {
    const char* from;
    const char* to;
};
using Runs = std::vector<Run>;

void FindLongRuns(const char* p, const char* end, Runs& runs);

// Oniguruma for the length of one analysis: the patterns are compiled once at
// its start and freed, with the region, before onig_end closes the library.
class Matcher {
  public:
    Matcher();
    ~Matcher();
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // Unanchored search over [begin, end); capture offsets count from begin.
    // With the long runs of the line, positions inside them that cannot begin
    // the leftmost match are not tried; the answer is the same.
    bool Search(Pat p, const char* begin, const char* end, const Runs* runs = nullptr,
                bool force_stepwise = false);
    int Beg(int group) const { return region_->beg[group]; }
    int End(int group) const { return region_->end[group]; }
    int Groups() const { return region_->num_regs; }

  private:
    regex_t* Compiled(Pat p);

    regex_t* re_[kPatCount] = {};
    bool tried_[kPatCount] = {};
    OnigRegion* region_ = nullptr;
};

}  // namespace quenlo::figread
