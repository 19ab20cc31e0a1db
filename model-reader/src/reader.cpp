// The BAC6 reader: header checks, the line scanner with its job codes, the
// keyword tables and the value readers that fill the model.
#include <locale.h>
#include <oniguruma.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bac_model.h"

namespace figread {

void BacModel::Clear() {
    *this = BacModel();
}

ReaderState& State() {
    static ReaderState state;
    return state;
}

void ReleaseModel() {
    ReaderState& st = State();
    if (!st.model) return;
    st.model.reset();
    ++st.generation;
}

namespace {

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

bool IsSpace(unsigned c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

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

// Runs of white space or digits long enough to matter, in line order.
constexpr ptrdiff_t kLongRun = 16;
struct Run {
    const char* from;
    const char* to;
};
using Runs = std::vector<Run>;

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

bool HasLongRun(const Runs& runs, const char* begin, const char* end) {
    auto it = std::lower_bound(runs.begin(), runs.end(), begin,
                               [](const Run& r, const char* b) { return r.to <= b; });
    for (; it != runs.end() && it->from < end; ++it)
        if (std::min(it->to, end) - std::max(it->from, begin) >= kLongRun) return true;
    return false;
}

// Oniguruma for the length of one analysis: the patterns are compiled once at
// its start and freed, with the region, before onig_end closes the library.
class Matcher {
  public:
    Matcher() {
        OnigEncoding encodings[1] = {ONIG_ENCODING_SJIS};
        onig_initialize(encodings, 1);
        region_ = onig_region_new();
    }
    ~Matcher() {
        for (regex_t* re : re_)
            if (re) onig_free(re);
        if (region_) onig_region_free(region_, 1);
        onig_end();
    }
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // Unanchored search over [begin, end); capture offsets count from begin.
    // With the long runs of the line, positions inside them that cannot begin
    // the leftmost match are not tried; the answer is the same.
    bool Search(Pat p, const char* begin, const char* end, const Runs* runs = nullptr,
                bool force_stepwise = false) {
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
            if (!redundant &&
                (space || (len == 1 ? LeadOk(info.lead, c) : info.lead == Lead::Any))) {
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
    int Beg(int group) const { return region_->beg[group]; }
    int End(int group) const { return region_->end[group]; }
    int Groups() const { return region_->num_regs; }

  private:
    // Each pattern is compiled on its first use in the analysis.
    regex_t* Compiled(Pat p) {
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

    static bool Answer(int r) {
        if (r >= 0) return true;
        if (r != ONIG_MISMATCH) PrintOnigError(r, nullptr);
        return false;
    }

    regex_t* re_[kPatCount] = {};
    bool tried_[kPatCount] = {};
    OnigRegion* region_ = nullptr;
};

// Numbers are read in the C locale whatever the host program has set.
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

// As a "%d" conversion of the capture.
int ToInt(const std::string& s) {
    return static_cast<int>(std::strtoll(s.c_str(), nullptr, 10));
}

float ToFloat(const std::string& s) {
    return strtof_l(s.c_str(), nullptr, CLocale());
}

// As sscanf(p, " %f %f %f ") in the C locale; values it does not assign stay
// 0. sscanf also takes a bare exponent mark ("1e 2 3" reads 1 2 3), which
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

enum class Handler {
    None,
    FigureName,
    Container,
    TextureSize,
    Color,
    Material,
    Vertex,
    Normal,
    Bone,
    TexCoord,
    Polygons,
    Group,
    Face,
    MaterialName,
    MaterialBlend,
    MaterialFlag,
    MaterialIndex,
    MaterialNumber,
    BoneName,
    BoneFlag,
    BoneVector,
    BoneVertices,
};

struct Row {
    std::string_view word;
    Handler handler;
};

constexpr Row kChunkTable[] = {
    {"name", Handler::FigureName},
    {"Textures", Handler::Container},
    {"i2", Handler::TextureSize},
    {"Colors", Handler::Container},
    {"f3", Handler::Color},
    {"Materials", Handler::Container},
    {"material", Handler::Material},
    {"Vertices", Handler::Container},
    {"coords", Handler::Container},
    {"normals", Handler::Container},
    {"pnt", Handler::Vertex},
    {"vct", Handler::Normal},
    {"Bones", Handler::Container},
    {"bone", Handler::Bone},
    {"TextureCoords", Handler::Container},
    {"f2", Handler::TexCoord},
    {"Polygons", Handler::Polygons},
    {"DynamicPolygons", Handler::Container},
    {"group", Handler::Group},
    {"face", Handler::Face},
};

constexpr Row kMaterialTable[] = {
    {"name", Handler::MaterialName},        {"blendMode", Handler::MaterialBlend},
    {"doubleFace", Handler::MaterialFlag},  {"transparent", Handler::MaterialFlag},
    {"lighting", Handler::MaterialFlag},    {"textureIndex", Handler::MaterialIndex},
    {"colorIndex", Handler::MaterialIndex}, {"specular", Handler::MaterialNumber},
    {"alpha", Handler::MaterialNumber},     {"shininess", Handler::MaterialNumber},
};

constexpr Row kBoneTable[] = {
    {"name", Handler::BoneName},
    {"hasChild", Handler::BoneFlag},
    {"hasBrother", Handler::BoneFlag},
    {"translate", Handler::BoneVector},
    {"rotate", Handler::BoneVector},
    {"handle", Handler::BoneVector},
    {"vertexIndices", Handler::BoneVertices},
    {"bone", Handler::Bone},
};

template <size_t N>
Handler Lookup(const Row (&table)[N], const std::string& word) {
    for (const Row& row : table)
        if (row.word == word) return row.handler;
    return Handler::None;
}

constexpr size_t kHeaderPiece = 1023;  // a 1024-byte line buffer
constexpr size_t kBodyPiece = 32767;   // a 32768-byte line buffer
constexpr size_t kPad = 16;            // zeros past every piece

// Where the lines come from: text in memory or an open file. Both read a CR LF
// pair as LF, so CRLF files read exactly like LF files.
class LineSource {
  public:
    virtual ~LineSource() = default;
    // Copies the next piece of a line into buf as fgets does with a buffer of
    // max + 1 bytes; answers its length, 0 at the end.
    virtual size_t Next(char* buf, size_t max) = 0;
};

class MemorySource : public LineSource {
  public:
    explicit MemorySource(std::string_view text) : text_(text) {}
    size_t Next(char* buf, size_t max) override {
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

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

class FileSource : public LineSource {
  public:
    explicit FileSource(std::FILE* f) : f_(f) {}
    size_t Next(char* buf, size_t max) override {
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

  private:
    std::FILE* f_;
};

class Reader {
  public:
    explicit Reader(LineSource& in) : in_(in) { buf_.assign(kBodyPiece + 1 + kPad, '\0'); }

    int Run() {
        if (!SeekHeaderLine(kBacLine)) {
            std::fputs(" not BAC format.\n", stderr);
            return 1;
        }
        if (!SeekHeaderLine(kVersion)) {
            std::fputs(" not BAC6 format.\n", stderr);
            return 1;
        }
        if (!SeekHeaderLine(kFigure)) {
            std::fputs(" Figure not found.\n", stderr);
            return 1;
        }
        return Scan();
    }

  private:
    // Reads the next piece of a line; each piece counts as a line. The text
    // seen ends at its first zero byte.
    bool NextPiece(size_t max) {
        size_t n = in_.Next(buf_.data(), max);
        if (n == 0) return false;
        std::memset(buf_.data() + n, 0, kPad);
        ++line_;
        cur_ = buf_.data();
        end_ = cur_ + strnlen(cur_, n);
        FindLongRuns(cur_, end_, runs_);
        return true;
    }

    bool SeekHeaderLine(Pat p) {
        while (NextPiece(kHeaderPiece))
            if (match_.Search(p, cur_, end_, &runs_)) return true;
        return false;
    }

    int Scan() {
        ReaderState& st = State();
        if (st.model)
            st.model->Clear();
        else
            st.model = std::make_unique<BacModel>();
        ++st.generation;
        m_ = st.model.get();
        int job = 0;
        handler_ = Handler::None;
        while (NextPiece(kBodyPiece)) {
            bool next_line = false;
            while (!next_line) {
                switch (job) {
                    case 100:
                    case 120:
                    case 130:
                    case 140:
                        job -= 100;
                        next_line = true;
                        break;
                    case 200:
                        job = 2;
                        next_line = true;
                        break;
                    case 0:
                    case 20:
                    case 30:
                    case 40:
                        if (S(kKeyword)) {
                            keyword_ = Cap(1);
                            Advance();
                            job += 1;
                        } else {
                            job += 100;
                        }
                        break;
                    case 1:
                        if (Handler h = Lookup(kChunkTable, keyword_); h != Handler::None) {
                            handler_ = h;
                            job = Call(h);
                        } else {
                            std::fprintf(stderr, " chunk name not found. line=%lld < %s >\n", line_,
                                         keyword_.c_str());
                            job = 0;
                        }
                        break;
                    case 21:
                    case 31:
                        if (Handler h = job == 21 ? Lookup(kMaterialTable, keyword_)
                                                  : Lookup(kBoneTable, keyword_);
                            h != Handler::None) {
                            handler_ = h;
                            job = Call(h);
                        } else {
                            job = 1;
                        }
                        break;
                    case 41:
                        // A group has no attributes of its own.
                        job = 1;
                        break;
                    case 2:
                        job = handler_ == Handler::None ? 0 : Call(handler_);
                        break;
                    default:
                        std::fprintf(stderr, " job code error %d\n", job);
                        job = 0;
                        next_line = true;
                        break;
                }
            }
        }
        return 0;
    }

    bool S(Pat p) { return match_.Search(p, cur_, end_, &runs_); }
    std::string Cap(int g) const { return std::string(cur_ + match_.Beg(g), cur_ + match_.End(g)); }
    int CapInt(int g) const { return ToInt(Cap(g)); }
    float CapFloat(int g) const { return ToFloat(Cap(g)); }
    void Advance() { cur_ += match_.End(0); }

    void Error(const char* what) { std::fprintf(stderr, " %s line=%lld\n", what, line_); }

    BacMaterial* LastMaterial() { return m_->materials.empty() ? nullptr : &m_->materials.back(); }
    BacBone* LastBone() { return m_->bones.empty() ? nullptr : &m_->bones.back(); }

    // Value records that cannot be stored are skipped without a message.
    template <class List, class Value>
    void Append(List& list, Value&& v) {
        try {
            list.push_back(std::forward<Value>(v));
        } catch (const std::bad_alloc&) {
        }
    }

    int Call(Handler h) {
        switch (h) {
            case Handler::None:
            case Handler::Container:
                return 0;
            case Handler::FigureName:
                if (!S(kQuoted)) return 200;
                m_->figureName = Cap(1);
                Advance();
                return 0;
            case Handler::TextureSize: {
                if (!S(kIntegerPair)) return 200;
                BacTexture t;
                t.sizeY = CapInt(1);
                t.sizeX = CapInt(2);
                Advance();
                Append(m_->textures, t);
                return 0;
            }
            case Handler::Color:
            case Handler::Vertex:
            case Handler::Normal: {
                if (!S(kThreeNumbers)) return 200;
                Vec3 v = ReadThree(cur_);
                Advance();
                if (h == Handler::Color)
                    Append(m_->colors, BacColor{v[0], v[1], v[2]});
                else
                    Append(h == Handler::Vertex ? m_->vertices : m_->normals, v);
                return 0;
            }
            case Handler::TexCoord:
                // Returns 0 like the vertex reader, so chunks after it still count.
                if (!S(kTwoNumbers)) return 200;
                Append(m_->uvs, Vec2{CapFloat(1), CapFloat(6)});
                Advance();
                return 0;
            case Handler::Material:
                try {
                    m_->materials.emplace_back();
                } catch (const std::bad_alloc&) {
                    Error("memory error *fncMaterialSet()");
                    return 200;
                }
                return 20;
            case Handler::Bone:
                try {
                    m_->bones.emplace_back();
                } catch (const std::bad_alloc&) {
                    Error("memory error *funcBoneSet()");
                    return 100;
                }
                m_->bones.back().index = bone_counter_++;
                return 130;
            case Handler::Polygons:
                State().groupMode = false;
                return 0;
            case Handler::Group:
                State().groupMode = true;
                Append(m_->groups, BacGroup());
                return 140;
            case Handler::Face:
                return Face();
            case Handler::MaterialName:
                if (!S(kQuoted)) {
                    Error("material name error");
                    return 120;
                }
                if (BacMaterial* mat = LastMaterial()) mat->name = Cap(1);
                Advance();
                return 120;
            case Handler::MaterialBlend:
                if (!S(kWord)) {
                    Error("material mode error");
                    return 120;
                }
                if (BacMaterial* mat = LastMaterial()) mat->blendMode = Cap(1);
                Advance();
                return 120;
            case Handler::MaterialFlag: {
                if (!S(kBoolean)) {
                    Error("material flag error");
                    return 120;
                }
                bool value = Cap(1) == "true";
                Advance();
                if (BacMaterial* mat = LastMaterial()) {
                    if (keyword_ == "doubleFace")
                        mat->doubleFace = value;
                    else if (keyword_ == "transparent")
                        mat->transparent = value;
                    else
                        mat->lighting = value;
                }
                return 120;
            }
            case Handler::MaterialIndex: {
                if (!S(kInteger)) return 120;
                int value = CapInt(1);
                Advance();
                if (BacMaterial* mat = LastMaterial())
                    (keyword_ == "textureIndex" ? mat->textureIndex : mat->colorIndex) = value;
                return 120;
            }
            case Handler::MaterialNumber: {
                if (!S(kOneNumber)) return 20;
                float value = CapFloat(1);
                Advance();
                if (BacMaterial* mat = LastMaterial()) {
                    if (keyword_ == "specular")
                        mat->specular = value;
                    else if (keyword_ == "alpha")
                        mat->alpha = value;
                    else
                        mat->shininess = value;
                }
                return 20;
            }
            case Handler::BoneName:
                return BoneName();
            case Handler::BoneFlag: {
                if (!S(kBoolean)) return 130;
                bool value = Cap(1) == "true";
                Advance();
                if (BacBone* bone = LastBone())
                    (keyword_ == "hasChild" ? bone->hasChild : bone->hasBrother) = value;
                return 130;
            }
            case Handler::BoneVector: {
                if (!S(kThreeNumbers)) return 200;
                Vec3 v = ReadThree(cur_);
                Advance();
                if (BacBone* bone = LastBone()) {
                    if (keyword_ == "translate")
                        bone->translate = v;
                    else if (keyword_ == "rotate")
                        bone->rotate = v;
                    else
                        bone->handle = v;
                }
                return 130;
            }
            case Handler::BoneVertices: {
                BacBone* bone = LastBone();
                while (S(kInteger)) {
                    int v = CapInt(1);
                    Advance();
                    if (bone) Append(bone->vertexIndices, v);
                }
                return S(kClosing) ? 130 : 200;
            }
        }
        return 0;
    }

    int BoneName() {
        if (!S(kQuoted)) {
            Error("bone name error");
            return 130;
        }
        std::string text = Cap(1);
        int advance = match_.End(0);
        if (BacBone* bone = LastBone()) {
            bone->name.clear();
            if (match_.Search(kMotorTag, text.data(), text.data() + text.size())) {
                // "(ID-05R)": the letters give the group, the digits the index.
                size_t at = static_cast<size_t>(match_.Beg(0));
                bone->motorGroup = text[at + 1] == 'O' ? 1 : 0;
                bone->motorIndex = (text[at + 4] - '0') * 10 + (text[at + 5] - '0');
                if (text[at + 6] == 'R') bone->reverse = true;
                bone->name = text.substr(0, at);
            } else {
                bone->name = text;
            }
        }
        cur_ += advance;
        return 130;
    }

    int Face() {
        if (!S(kInteger)) return 100;
        BacPolygon p;
        p.material = CapInt(1);
        Advance();
        if (S(kFaceForm)) {
            std::string form = Cap(1);
            if (form == "i3" && S(kTriangle)) {
                p.corners = 3;
                for (int i = 0; i < 3; ++i) {
                    p.vertex[i] = CapInt(3 - i);
                    p.uv[i] = CapInt(6 - i);
                }
                Advance();
            } else if (form == "i4" && S(kQuad)) {
                p.corners = 4;
                for (int i = 0; i < 4; ++i) {
                    p.vertex[i] = CapInt(4 - i);
                    p.uv[i] = CapInt(8 - i);
                }
                Advance();
            }
        }
        // With no group to take it (group mode left over from an earlier
        // file), the face goes where a fresh analysis would put it.
        if (State().groupMode && !m_->groups.empty())
            Append(m_->groups.back().faces, p);
        else
            Append(m_->polygons, p);
        return 100;
    }

    LineSource& in_;
    std::vector<char> buf_;
    Runs runs_;
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
    long long line_ = 0;
    std::string keyword_;
    Handler handler_ = Handler::None;
    int bone_counter_ = 0;
    BacModel* m_ = nullptr;
    Matcher match_;
};

}  // namespace

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

int AnalyzeText(std::string_view text) {
    MemorySource in(text);
    return Reader(in).Run();
}

int AnalyzeFile(std::FILE* file) {
    FileSource in(file);
    return Reader(in).Run();
}

}  // namespace figread
