// The patterns, the long-run shortcut and the Oniguruma calls.
#include "matcher.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "chars.h"
#include "reader.h"

namespace quenlo::figread {
namespace {

const char* const kPatterns[kPatCount] = {
    R"re(^;BAC)re",
    R"re(\s*\(\s*bacVersion\s+6(.0)?\s*\)\s+)re",
    R"re(\s*\(\s*Figure\s+)re",
    R"re(\s*\(\s*(\w+)\s*)re",
    R"re(\s*\"([^"]*)\"\s*)re",
    R"re(\s*(\w+)\s*)re",
    R"re((true|false))re",
    R"re(\s*([+-]?\d+)\s*)re",
    R"re(\s*([+-]?\d+)\s+([+-]?\d+)\s*)re",
    R"re(\s*(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s*)re",
    R"re(\s*(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s+(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s*)re",
    R"re(\s*(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s+(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s+(([+-]?\d+)(\.\d+)?(e([+-]?\d+))?)\s*)re",
    R"re(\((ID|OD)-[0123]\dR?\)$)re",
    R"re(\))re",
    R"re(\s*(i[3|4])\s+)re",
    R"re(\(\s+i3\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+\)\s+\(\s+i3\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+\)\s*)re",
    R"re(\(\s+i4\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+\)\s+\(\s+i4\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+([+-]?\d+)\s+\)\s*)re",
};

void PrintOnigError(int code, OnigErrorInfo* info) {
    UChar text[ONIG_MAX_ERROR_MESSAGE_LEN];
    if (info)
        onig_error_code_to_str(text, code, info);
    else
        onig_error_code_to_str(text, code);
    std::fprintf(stderr, "ERROR: %s\n", reinterpret_cast<const char*>(text));
}

// How an attempt at a position can begin: patterns that open with \s* cannot
// start a match inside a run of white space that the previous position could
// not also start (with the same captures and end), and number patterns
// likewise inside a run of digits. Oniguruma tries every position of such a
// run at a cost of the run's length each; on lines with long runs the reader
// tries only the positions where a match can begin first.
enum class Lead : uint8_t { None, Any, Paren, Quote, Number, LetterI };
struct PatInfo {
    Lead lead;  // first character after the leading \s*; None: no leading \s*
    bool digit_runs;
};
constexpr PatInfo kInfo[kPatCount] = {
    {Lead::None, false},     // kBacLine
    {Lead::Paren, false},    // kVersion
    {Lead::Paren, false},    // kFigure
    {Lead::Paren, false},    // kKeyword
    {Lead::Quote, false},    // kQuoted
    {Lead::Any, false},      // kWord
    {Lead::None, false},     // kBoolean
    {Lead::Number, true},    // kInteger
    {Lead::Number, true},    // kIntegerPair
    {Lead::Number, true},    // kOneNumber
    {Lead::Number, true},    // kTwoNumbers
    {Lead::Number, true},    // kThreeNumbers
    {Lead::None, false},     // kMotorTag
    {Lead::None, false},     // kClosing
    {Lead::LetterI, false},  // kFaceForm
    {Lead::None, false},     // kTriangle
    {Lead::None, false},     // kQuad
};

bool LeadOk(Lead lead, unsigned c) {
    switch (lead) {
        case Lead::Paren:
            return c == '(';
        case Lead::Quote:
            return c == '"';
        case Lead::Number:
            return IsDigit(c) || c == '+' || c == '-';
        case Lead::LetterI:
            return c == 'i';
        default:
            return true;
    }
}

// Length of the character at p as Oniguruma steps through Shift_JIS text.
int CharLen(const char* p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80) return 1;
    return std::max(1, ONIGENC_MBC_ENC_LEN(ONIG_ENCODING_SJIS, reinterpret_cast<const UChar*>(p)));
}

// Shorter runs cost Oniguruma little; FindLongRuns keeps only these.
constexpr ptrdiff_t kLongRun = 16;

bool HasLongRun(const Runs& runs, const char* begin, const char* end) {
    auto it = std::lower_bound(runs.begin(), runs.end(), begin,
                               [](const Run& r, const char* b) { return r.to <= b; });
    for (; it != runs.end() && it->from < end; ++it)
        if (std::min(it->to, end) - std::max(it->from, begin) >= kLongRun) return true;
    return false;
}

bool Answer(int r) {
    if (r >= 0) return true;
    if (r != ONIG_MISMATCH) PrintOnigError(r, nullptr);
    return false;
}

}  // namespace

void FindLongRuns(const char* p, const char* end, Runs& runs) {
    runs.clear();
    while (p < end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (IsSpace(c) || IsDigit(c)) {
            const bool digit = IsDigit(c);
            const char* q = p;
            while (q < end && (digit ? IsDigit(static_cast<unsigned char>(*q))
                                     : IsSpace(static_cast<unsigned char>(*q))))
                ++q;
            if (q - p >= kLongRun) runs.push_back({p, q});
            p = q;
        } else {
            p += CharLen(p);
        }
    }
}

Matcher::Matcher() {
    OnigEncoding encodings[1] = {ONIG_ENCODING_SJIS};
    onig_initialize(encodings, 1);
    region_ = onig_region_new();
}

Matcher::~Matcher() {
    for (regex_t* re : re_)
        if (re) onig_free(re);
    if (region_) onig_region_free(region_, 1);
    onig_end();
}

bool Matcher::Search(Pat p, const char* begin, const char* end, const Runs* runs,
                     bool force_stepwise) {
    regex_t* re = Compiled(p);
    if (!re || !region_) return false;
    const UChar* b = reinterpret_cast<const UChar*>(begin);
    const UChar* e = reinterpret_cast<const UChar*>(end);
    const PatInfo& info = kInfo[p];
    if (info.lead == Lead::None || !(force_stepwise || (runs && HasLongRun(*runs, begin, end))))
        return Answer(onig_search(re, b, e, b, e, region_, ONIG_OPTION_NONE));
    bool prev_space = false, prev_digit = false;
    for (const char* s = begin; s < end;) {
        const int len = CharLen(s);
        const unsigned c = static_cast<unsigned char>(*s);
        const bool space = len == 1 && IsSpace(c), digit = len == 1 && IsDigit(c);
        const bool redundant = prev_space || (info.digit_runs && prev_digit && digit);
        if (!redundant && (space || (len == 1 ? LeadOk(info.lead, c) : info.lead == Lead::Any))) {
            const UChar* at = reinterpret_cast<const UChar*>(s);
            int r = onig_match(re, b, e, at, region_, ONIG_OPTION_NONE);
            if (r != ONIG_MISMATCH) return Answer(r);
        }
        prev_space = space;
        prev_digit = digit;
        s += len;
    }
    return false;
}

// Each pattern is compiled on its first use in the analysis.
regex_t* Matcher::Compiled(Pat p) {
    if (!tried_[p]) {
        tried_[p] = true;
        const UChar* text = reinterpret_cast<const UChar*>(kPatterns[p]);
        OnigErrorInfo info;
        int r = onig_new(&re_[p], text, text + std::strlen(kPatterns[p]), ONIG_OPTION_NONE,
                         ONIG_ENCODING_SJIS, ONIG_SYNTAX_DEFAULT, &info);
        if (r != ONIG_NORMAL) {
            PrintOnigError(r, &info);
            re_[p] = nullptr;
        }
    }
    return re_[p];
}

std::string FirstSearchDisagreement(const std::vector<std::string>& texts) {
    Matcher m;
    auto describe = [&m](int pattern, const std::string& t, bool stepwise) {
        if (!m.Search(static_cast<Pat>(pattern), t.data(), t.data() + t.size(), nullptr, stepwise))
            return std::string("no match");
        std::string d;
        char span[32];
        for (int g = 0; g < m.Groups(); ++g) {
            std::snprintf(span, sizeof span, "%d-%d ", m.Beg(g), m.End(g));
            d += span;
        }
        return d;
    };
    for (const std::string& t : texts)
        for (int p = 0; p < kPatCount; ++p) {
            std::string plain = describe(p, t, false), stepwise = describe(p, t, true);
            if (plain != stepwise)
                return std::string(kPatterns[p]) + " on <" + t + ">: " + plain + "/ " + stepwise;
        }
    return "";
}

}  // namespace quenlo::figread
