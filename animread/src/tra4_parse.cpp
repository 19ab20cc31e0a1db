// TRA4 text to Motion. The grammar is flat (header, key list, bone entries of
// fixed shape), so the parser is a loop over tokens without recursion; every
// diagnostic carries the line of the token at fault.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "tra4_reader.h"

namespace quenlo::tra4 {
namespace {

enum class Tok { Open, Close, String, Atom, End };

struct Token {
    Tok kind = Tok::End;
    std::string_view text;  // atom text, or a string's bytes without its quotes
    int line = 0;
};

// Shows a piece of the input in a message: short, and printable bytes only so
// the diagnostic stays a single line.
std::string Show(std::string_view text) {
    constexpr std::size_t kMaxShown = 32;
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    if (text.size() > kMaxShown) out += "...";
    out += "'";
    return out;
}

std::string Describe(const Token& t) {
    switch (t.kind) {
        case Tok::Open:
            return "'('";
        case Tok::Close:
            return "')'";
        case Tok::String:
            return "quoted text";
        case Tok::Atom:
            return Show(t.text);
        case Tok::End:
            return "end of file";
    }
    return {};
}

std::string Hex(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", c);
    return buf;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

bool EndsAtom(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ';' ||
           c == '"' || IsControl(c);
}

class Lexer {
  public:
    Lexer(std::string_view text, std::size_t pos, int line) : s_(text), pos_(pos), line_(line) {}

    bool Next(Token& t, ParseError& err) {
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == ' ' || c == '\t') {
                ++pos_;
            } else if (c == '\n' || c == '\r') {
                // LF, CR LF and a lone CR (older editors) each end one line.
                if (c == '\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '\n') ++pos_;
                ++line_, ++pos_;
            } else if (c == ';') {
                std::size_t nl = s_.find_first_of("\r\n", pos_);
                pos_ = nl == std::string_view::npos ? s_.size() : nl;
            } else if (c == '(' || c == ')') {
                t = {c == '(' ? Tok::Open : Tok::Close, s_.substr(pos_, 1), line_};
                ++pos_;
                return true;
            } else if (c == '"') {
                return String(t, err);
            } else if (IsControl(c)) {
                return Fail(err, "unexpected control byte " + Hex(c));
            } else {
                std::size_t start = pos_;
                while (pos_ < s_.size() && !EndsAtom(static_cast<unsigned char>(s_[pos_]))) ++pos_;
                t = {Tok::Atom, s_.substr(start, pos_ - start), line_};
                return true;
            }
        }
        // A final line end does not open a line of its own.
        int last = line_;
        if (!s_.empty() && (s_.back() == '\n' || s_.back() == '\r') && last > 1) --last;
        t = {Tok::End, {}, last};
        return true;
    }

  private:
    bool Fail(ParseError& err, std::string message) {
        err = {line_, std::move(message)};
        return false;
    }

    // Names carry no escapes: Shift_JIS trail bytes include '\', never '"' or a
    // control byte, so the bytes between the quotes are the name.
    bool String(Token& t, ParseError& err) {
        std::size_t start = ++pos_;
        while (true) {
            if (pos_ >= s_.size() || s_[pos_] == '\n' || s_[pos_] == '\r')
                return Fail(err, "bone name not closed on its line");
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') break;
            if (IsControl(c)) return Fail(err, "control byte " + Hex(c) + " in a bone name");
            ++pos_;
        }
        std::string_view name = s_.substr(start, pos_ - start);
        ++pos_;
        if (name.size() > kMaxNameBytes)
            return Fail(err, "bone name longer than " + std::to_string(kMaxNameBytes) + " bytes");
        t = {Tok::String, name, line_};
        return true;
    }

    std::string_view s_;
    std::size_t pos_;
    int line_;
};

// Whether a number that does not fit a float is too small rather than too
// large: the decimal exponent of its first non-zero digit is negative.
bool BelowOne(std::string_view body) {
    std::size_t i = body[0] == '-' ? 1 : 0;
    long long lead = 0;  // exponent of the first non-zero digit, before 'e'
    bool found = false;
    for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) {
        if (found)
            ++lead;
        else if (body[i] != '0')
            found = true;
    }
    if (i < body.size() && body[i] == '.') {
        for (++i; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) {
            if (!found) {
                --lead;
                found = body[i] != '0';
            }
        }
    }
    long long exp = 0;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        const bool neg = i < body.size() && body[i] == '-';
        if (i < body.size() && (body[i] == '-' || body[i] == '+')) ++i;
        for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i)
            exp = std::min(exp * 10 + (body[i] - '0'), 1000000000LL);
        if (neg) exp = -exp;
    }
    return lead + exp < 0;
}

bool ParseFloat(std::string_view s, float& out) {
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
            return false;
    std::string_view body = s[0] == '+' ? s.substr(1) : s;
    if (body.empty() || body[0] == '+' || (body[0] == '-' && s[0] == '+')) return false;
    const char* end = body.data() + body.size();
    auto res = std::from_chars(body.data(), end, out);
    if (res.ptr != end) return false;
    if (res.ec == std::errc::result_out_of_range) {
        // Too small for a float rounds to zero; too large is refused.
        if (!BelowOne(body)) return false;
        out = body[0] == '-' ? -0.0f : 0.0f;
        return true;
    }
    return res.ec == std::errc() && std::isfinite(out);
}

std::string MaxValueText() {
    return std::to_string(static_cast<long>(kMaxValue));
}

bool ParseTime(std::string_view s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && out <= kMaxKeyTime;
}

bool ReadHeader(std::string_view text, std::size_t& pos, ParseError& err) {
    constexpr std::string_view kMagic = ";TRA";
    // Editors that write UTF-8 may put a byte-order mark first.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    pos = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    if (text.substr(pos, kMagic.size()) == kMagic) {
        pos += kMagic.size();
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        if (pos == text.size() || text[pos] == '\n' || text[pos] == '\r') return true;
    }
    err = {1, "not a TRA4 file: the first line must be ;TRA"};
    return false;
}

class Parser {
  public:
    Parser(std::string_view text, std::size_t pos, ParseError& err)
        : lex_(text, pos, 1), err_(err) {}

    bool Run(Motion& m) { return Version() && Keys(m) && Bones(m); }

  private:
    bool Advance() { return lex_.Next(tok_, err_); }

    bool Fail(std::string message) {
        err_ = {tok_.line, std::move(message)};
        return false;
    }

    // The token after a '(' that did not open the expected entry.
    std::string AfterOpen() const {
        return tok_.kind == Tok::Atom ? Show("(" + std::string(tok_.text.substr(0, 40)))
                                      : "'(' and " + Describe(tok_);
    }

    bool IsWord(std::string_view word) const { return tok_.kind == Tok::Atom && tok_.text == word; }

    // Reads '(' and the entry's word. Messages are built only on failure:
    // `what()` names the expected entry, `after()` what a ')' should close.
    template <class What>
    bool Open(std::string_view word, const What& what) {
        if (!Advance()) return false;
        if (tok_.kind != Tok::Open) return Fail("expected " + what() + ", found " + Describe(tok_));
        if (!Advance()) return false;
        if (!IsWord(word)) return Fail("expected " + what() + ", found " + AfterOpen());
        return true;
    }

    template <class After>
    bool Close(const After& after) {
        if (!Advance()) return false;
        if (tok_.kind != Tok::Close)
            return Fail("unexpected " + Describe(tok_) + " after " + after());
        return true;
    }

    bool Version() {
        if (!Open("traVersion", [] { return std::string("(traVersion 4)"); })) return false;
        if (!Advance()) return false;
        if (!IsWord("4"))
            return Fail("unsupported version " + Describe(tok_) + ", this reader knows 4");
        return Close([] { return std::string("the version"); });
    }

    bool Keys(Motion& m) {
        if (!Open("keys", [] { return std::string("the key list (keys ...)"); })) return false;
        while (true) {
            if (!Advance()) return false;
            if (tok_.kind == Tok::Close && m.times.empty())
                return Fail("the key list is empty: a motion needs at least one key");
            if (tok_.kind == Tok::Close) return true;
            if (tok_.kind != Tok::Atom)
                return Fail("unexpected " + Describe(tok_) + " in the key list");
            int t = 0;
            if (!ParseTime(tok_.text, t))
                return Fail("key time " + Describe(tok_) + " is not an integer from 0 to " +
                            std::to_string(kMaxKeyTime));
            if (!m.times.empty() && t <= m.times.back())
                return Fail("key time " + std::to_string(t) + " is not after " +
                            std::to_string(m.times.back()));
            if (m.times.size() == kMaxKeys)
                return Fail("more than " + std::to_string(kMaxKeys) + " key times");
            m.times.push_back(t);
        }
    }

    bool Bones(Motion& m) {
        while (true) {
            if (!Advance()) return false;
            if (tok_.kind == Tok::End) return true;
            if (tok_.kind != Tok::Open)
                return Fail("expected (bone ...) or the end of the file, found " + Describe(tok_));
            if (!Advance()) return false;
            if (!IsWord("bone"))
                return Fail("expected (bone ...) or the end of the file, found " + AfterOpen());
            if (m.bones.size() == kMaxBones)
                return Fail("more than " + std::to_string(kMaxBones) + " bones");
            if (!Bone(m)) return false;
        }
    }

    bool Bone(Motion& m) {
        if (!Advance()) return false;
        if (tok_.kind != Tok::String)
            return Fail("expected a quoted bone name, found " + Describe(tok_));
        // The conversion finds bones by name: a second entry would silently
        // replace the first one's values.
        const auto [first, fresh] = name_lines_.emplace(tok_.text, tok_.line);
        if (!fresh)
            return Fail("bone " + Show(tok_.text) + " is listed twice, first on line " +
                        std::to_string(first->second));
        tra4::Bone& bone = m.bones.emplace_back();
        bone.name.assign(tok_.text);
        auto who = [&bone] { return "bone " + Show(bone.name); };
        if (!Open("mirror", [&] { return "(mirror true) or (mirror false) in " + who(); }))
            return false;
        if (!Advance()) return false;
        if (IsWord("true") || IsWord("false"))
            bone.mirror = tok_.text == "true";
        else
            return Fail("mirror of " + who() + " must be true or false, found " + Describe(tok_));
        if (!Close([&] { return "the mirror flag of " + who(); })) return false;
        bone.keys.reserve(m.times.size());
        while (true) {
            if (!Advance()) return false;
            if (tok_.kind == Tok::Close) break;
            if (tok_.kind != Tok::Open)
                return Fail("expected (key ...) or ')' in " + who() + ", found " + Describe(tok_));
            if (!Advance()) return false;
            if (!IsWord("key"))
                return Fail("expected (key ...) or ')' in " + who() + ", found " + AfterOpen());
            if (bone.keys.size() == m.times.size())
                return Fail(who() + " has more keys than the " + std::to_string(m.times.size()) +
                            " key times");
            if (!Key(m, bone)) return false;
        }
        if (bone.keys.size() != m.times.size())
            return Fail(who() + " has " + std::to_string(bone.keys.size()) +
                        " keys, the key list " + std::to_string(m.times.size()));
        return true;
    }

    bool Key(const Motion& m, tra4::Bone& bone) {
        const int expected = m.times[bone.keys.size()];
        if (!Advance()) return false;
        int t = -1;
        if (tok_.kind != Tok::Atom || !ParseTime(tok_.text, t) || t != expected)
            return Fail("expected key time " + std::to_string(expected) + " in bone " +
                        Show(bone.name) + ", found " + Describe(tok_));
        tra4::Key& key = bone.keys.emplace_back();
        auto where = [&] { return "key " + std::to_string(t) + " in bone " + Show(bone.name); };
        if (!Numbers("rotate", key.rotate.data(), 3, where)) return false;
        // A direction of length 0 has no angle; the conversion would make it 90 degrees.
        if (key.rotate == std::array<float, 3>{})
            return Fail("rotate of " + where() + " is the zero vector, which has no direction");
        if (!Numbers("translate", key.translate.data(), 3, where)) return false;
        if (!Numbers("roll", &key.roll, 1, where)) return false;
        return Close(where);
    }

    template <class Where>
    bool Numbers(const char* word, float* out, int count, const Where& where) {
        auto name = [&] { return std::string(word) + " of " + where(); };
        if (!Open(word, [&] { return "(" + std::string(word) + " ...) of " + where(); }))
            return false;
        for (int i = 0; i < count; ++i) {
            if (!Advance()) return false;
            if (tok_.kind == Tok::Close)
                return Fail(name() + " has " + std::to_string(i) + " numbers, needs " +
                            std::to_string(count));
            if (tok_.kind != Tok::Atom)
                return Fail("unexpected " + Describe(tok_) + " in " + name());
            if (!ParseFloat(tok_.text, out[i]))
                return Fail(Describe(tok_) + " in " + name() + " is not a finite number");
            if (std::fabs(out[i]) > kMaxValue)
                return Fail(Describe(tok_) + " in " + name() + " is outside -" + MaxValueText() +
                            " to " + MaxValueText());
        }
        return Close([&] {
            return "the " + std::to_string(count) + (count == 1 ? " number of " : " numbers of ") +
                   name();
        });
    }

    Lexer lex_;
    ParseError& err_;
    Token tok_;
    std::unordered_map<std::string_view, int> name_lines_;  // bone name -> line of its entry
};

}  // namespace

bool Parse(std::string_view text, Motion& out, ParseError& error) {
    if (text.size() > kMaxFileBytes) {
        error = {0, "larger than " + std::to_string(kMaxFileBytes) + " bytes"};
        return false;
    }
    std::size_t pos = 0;
    if (!ReadHeader(text, pos, error)) return false;
    Motion m;
    Parser parser(text, pos, error);
    if (!parser.Run(m)) return false;
    out = std::move(m);
    return true;
}

std::string FormatError(std::string_view name, const ParseError& error) {
    std::string out = "animread: ";
    for (unsigned char c : name) out += IsControl(c) ? '?' : static_cast<char>(c);
    if (error.line > 0) out += ":" + std::to_string(error.line);
    out += ": ";
    for (unsigned char c : error.message) out += IsControl(c) ? '?' : static_cast<char>(c);
    out += '\n';
    return out;
}

}  // namespace quenlo::tra4
