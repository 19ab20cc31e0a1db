// libFuzzer target: arbitrary bytes through the parser and the held-motion
// queries. Besides crashes it checks what must always hold: a refused text
// gets one diagnostic line with a line number inside the text; an accepted one
// is a motion the writer can write and that reads back bit for bit; queries
// with any index or time stay in range and answer exact values at key times.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "test_motions.h"
#include "tra4_reader.h"

namespace {

using namespace quenlo::tra4;
using test::SameBits;

void Require(bool ok) {
    if (!ok) std::abort();
}

bool Between(float v, float a, float b) {
    return std::isfinite(v) && v >= std::fmin(a, b) && v <= std::fmax(a, b);
}

void Query(const Reader& r) {
    const Motion* m = r.motion();
    const int keys = static_cast<int>(r.KeyCount());
    const int bones = static_cast<int>(r.BoneCount());
    const int key_probe[] = {INT_MIN, -1, 0, 1, keys - 1, keys, keys + 1, INT_MAX};
    for (int k : key_probe) {
        const int t = r.KeyTime(k);
        Require(k >= 0 && k < keys ? t == m->times[k] : t == 0);
    }
    const int bone_probe[] = {INT_MIN, -1, 0, 1, bones - 1, bones, INT_MAX};
    for (int b : bone_probe) {
        const bool in = b >= 0 && b < bones;
        const char* name = r.BoneName(b);
        Require(in ? name && name == m->bones[b].name : !name);
        if (!in) Require(!r.Mirror(b));
        int times[8 + 6 * 4] = {INT_MIN, INT_MIN + 1, -1, 0, 1, kMaxKeyTime, INT_MAX - 1, INT_MAX};
        int n = 8;
        // Key times and their neighbours, for the first and last few keys.
        for (int k = 0; k < keys && n + 3 <= static_cast<int>(std::size(times)); ++k) {
            if (k >= 3 && k < keys - 3) continue;
            const int t = m->times[k];
            times[n++] = t, times[n++] = t - 1, times[n++] = t + 1;
        }
        for (int i = 0; i < n; ++i) {
            float rot[3] = {7, 7, 7}, tr[3] = {7, 7, 7};
            r.Rotate(b, times[i], rot);
            r.Translate(b, times[i], tr);
            const float roll = r.Roll(b, times[i]);
            if (!in || keys == 0) {
                Require(rot[0] == 0 && rot[1] == 0 && rot[2] == 0);
                Require(tr[0] == 0 && tr[1] == 0 && tr[2] == 0 && roll == 0);
                continue;
            }
            const auto& tk = m->times;
            const auto& bk = m->bones[b].keys;
            // The neighbouring keys that bound the answer.
            int lo = 0, hi = 0;
            while (hi < keys && tk[hi] < times[i]) ++hi;
            if (hi == keys)
                lo = hi = keys - 1;
            else if (tk[hi] == times[i] || hi == 0)
                lo = hi;
            else
                lo = hi - 1;
            for (int j = 0; j < 3; ++j) {
                Require(Between(rot[j], bk[lo].rotate[j], bk[hi].rotate[j]));
                Require(Between(tr[j], bk[lo].translate[j], bk[hi].translate[j]));
            }
            Require(Between(roll, bk[lo].roll, bk[hi].roll));
            if (lo == hi) {
                for (int j = 0; j < 3; ++j)
                    Require(SameBits(rot[j], bk[lo].rotate[j]) &&
                            SameBits(tr[j], bk[lo].translate[j]));
                Require(SameBits(roll, bk[lo].roll));
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    Motion m;
    m.times = {42};
    const Motion untouched = m;
    ParseError err;
    if (Parse(text, m, err)) {
        Require(Check(m).empty());
        std::string again;
        Require(ToText(m, again));
        Motion back;
        ParseError err2;
        Require(Parse(again, back, err2));
        Require(SameBits(back, m));
    } else {
        Require(SameBits(m, untouched));
        // LF, CR LF and a lone CR each end a line.
        std::size_t lines = 1;
        for (std::size_t i = 0; i < text.size(); ++i)
            lines += text[i] == '\n' || (text[i] == '\r' && text.substr(i + 1, 1) != "\n");
        Require(err.line >= 0 && static_cast<std::size_t>(err.line) <= lines);
        const std::string line = FormatError("fuzz.tra", err);
        Require(line.find('\n') == line.size() - 1);
    }

    static Reader reader;
    const int rc = reader.AnalyseText(text, "fuzz.tra");
    Require((rc == 0) == (reader.motion() != nullptr));
    Require((rc == 0) == err.message.empty());
    if (reader.motion())
        Query(reader);
    else {
        Require(reader.KeyCount() == 0 && reader.BoneCount() == 0 && !reader.BoneName(0));
    }
    return 0;
}
