#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "test_motions.h"
#include "tra4_reader.h"

namespace quenlo::tra4 {
namespace {

// Any float a file may hold, from every part of the range.
float RandomFloat(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0:
            return std::uniform_real_distribution<float>(-1, 1)(rng);
        case 1:
            return static_cast<float>(static_cast<int>(rng() % 721) - 360);
        default: {
            float f;
            do {
                const uint32_t bits = rng();
                std::memcpy(&f, &bits, sizeof f);
            } while (!(std::fabs(f) <= kMaxValue));
            return f;
        }
    }
}

Motion RandomMotion(std::mt19937& rng) {
    Motion m;
    int t = static_cast<int>(rng() % 3);
    const int keys = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < keys; ++k, t += 1 + static_cast<int>(rng() % 50)) m.times.push_back(t);
    const int bones = static_cast<int>(rng() % 25);
    for (int b = 0; b < bones; ++b) {
        std::string name;
        const int len = static_cast<int>(rng() % 12);
        for (int i = 0; i < len; ++i) {
            // Printable ASCII and high bytes, never a quote or a control byte.
            unsigned char c;
            do c = static_cast<unsigned char>(0x20 + rng() % 0xE0);
            while (c == '"' || c == 0x7F);
            name += static_cast<char>(c);
        }
        // Names are unique within a motion.
        if (std::any_of(m.bones.begin(), m.bones.end(),
                        [&](const Bone& o) { return o.name == name; }))
            name += '#' + std::to_string(b);
        Bone& bone = m.AddBone(name, rng() % 2);
        for (Key& key : bone.keys) {
            for (float& v : key.rotate) v = RandomFloat(rng);
            if (key.rotate == std::array<float, 3>{}) key.rotate[2] = 1;
            for (float& v : key.translate) v = RandomFloat(rng);
            key.roll = RandomFloat(rng);
        }
    }
    return m;
}

TEST(Tra4Writer, RoundTripKeepsEveryBit) {
    // Fixed shapes first: Shift_JIS names and mirror flags, a key and no bone.
    std::vector<Motion> motions = {test::ExtremeMotion(), test::SampleMotion(), Motion{}};
    motions.back().times = {0};
    std::mt19937 rng(20261207);
    for (int i = 0; i < 199; ++i) motions.push_back(RandomMotion(rng));
    for (std::size_t i = 0; i < motions.size(); ++i) {
        const Motion& m = motions[i];
        WriteOptions options;
        options.crlf = i % 2;
        if (i % 3 == 0) options.comment = "motion " + std::to_string(i) + "\n\x83\x5C; ( and \"";
        std::string text, err;
        ASSERT_TRUE(ToText(m, text, &err, options)) << err;
        EXPECT_EQ(text.find('\r') != std::string::npos, options.crlf) << text;
        Motion back;
        ParseError perr;
        ASSERT_TRUE(Parse(text, back, perr)) << perr.line << ": " << perr.message << "\n" << text;
        ASSERT_TRUE(test::SameBits(back, m)) << text;
    }
}

TEST(Tra4Writer, RefusesWhatTheReaderWouldRefuse) {
    struct Case {
        const char* why;
        void (*spoil)(Motion&);
    };
    const Case cases[] = {
        {"key time 0 is not after 0", [](Motion& m) { m.times[1] = 0; }},
        {"key time -1 outside", [](Motion& m) { m.times[0] = -1; }},
        {"outside 0 to 16777215", [](Motion& m) { m.times[1] = kMaxKeyTime + 1; }},
        {"has 1 keys, the motion has 2", [](Motion& m) { m.bones[0].keys.pop_back(); }},
        {"holds a quote or a control byte", [](Motion& m) { m.bones[0].name = "a\"b"; }},
        {"holds a quote or a control byte", [](Motion& m) { m.bones[0].name = "a\nb"; }},
        {"bone name longer than 1024",
         [](Motion& m) { m.bones[0].name.assign(kMaxNameBytes + 1, 'n'); }},
        {"translate value is not finite", [](Motion& m) { m.bones[0].keys[1].translate[2] = NAN; }},
        {"roll value is not finite", [](Motion& m) { m.bones[0].keys[0].roll = INFINITY; }},
        {"rotate value 1000000.062500 is beyond 1000000",
         [](Motion& m) { m.bones[0].keys[0].rotate[0] = std::nextafter(kMaxValue, 2e6f); }},
        {"rotate is the zero vector",
         [](Motion& m) {
             m.bones[0].keys[1].rotate = {0, -0.0f, 0};
         }},
        {"bone 'a' is listed twice", [](Motion& m) { m.AddBone("a"); }},
        {"no key time", [](Motion& m) { m = Motion{}; }},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        Motion m;
        m.times = {0, 10};
        m.AddBone("a");
        c.spoil(m);
        std::string text = "untouched", err;
        EXPECT_FALSE(ToText(m, text, &err));
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
        EXPECT_EQ(text, "untouched");
    }
    std::string err;
    EXPECT_FALSE(WriteFile(test::SampleMotion(), "/nonexistent/dir/m.tra", &err));
    EXPECT_NE(err.find("cannot write"), std::string::npos);
}

TEST(Tra4Writer, WritesTheDocumentedLayout) {
    Motion m;
    m.times = {0, 10};
    Bone& b = m.AddBone("arm", true);  // at rest until set
    b.keys[1] = {{0, 0.5f, 1}, {0, 0, 2}, 15};
    WriteOptions options;
    options.comment = "wave";
    EXPECT_EQ(test::Text(m, options),
              ";TRA\n"
              "(traVersion 4)\n"
              "; wave\n"
              "(keys 0 10)\n"
              "(bone \"arm\" (mirror true)\n"
              "  (key 0 (rotate 0 0 1) (translate 0 0 0) (roll 0))\n"
              "  (key 10 (rotate 0 0.5 1) (translate 0 0 2) (roll 15))\n"
              ")\n");
}

}  // namespace
}  // namespace quenlo::tra4
