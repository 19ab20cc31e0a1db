// Writes the fuzzer's seed corpus: motions of several shapes, made by the
// writer. Usage: animread_fuzz_seeds DIR
#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_motions.h"

using namespace quenlo::tra4;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    int written = 0;
    auto put = [&](const Motion& m, const WriteOptions& o = {}) {
        std::string err;
        if (!WriteFile(m, dir + "/seed" + std::to_string(written) + ".tra", &err, o)) {
            std::fprintf(stderr, "%s\n", err.c_str());
            std::exit(1);
        }
        ++written;
    };

    put(Motion{});
    Motion bones_only;
    bones_only.AddBone("body");
    bones_only.AddBone("", true);
    put(bones_only);

    Motion walk;
    walk.times = {0, 10, 25, 40};
    const char* names[] = {"base", "\x98\x72", "\x83\x5C\x83\x5C", "leg R", "head"};
    for (int b = 0; b < 5; ++b) {
        Bone& bone = walk.AddBone(names[b], b % 2);
        for (std::size_t k = 0; k < bone.keys.size(); ++k) {
            const float f = static_cast<float>(k) * 0.25f - 0.5f;
            bone.keys[k] = {{f, 1 - f, 0.5f}, {f * 3, 0, -f}, static_cast<float>(b * 15)};
        }
    }
    put(walk);
    WriteOptions crlf;
    crlf.crlf = true;
    crlf.comment = "walk cycle\nsecond line";
    put(walk, crlf);

    put(test::ExtremeMotion());

    Motion many;
    for (int k = 0; k < 40; ++k) many.times.push_back(k * 7);
    for (int b = 0; b < 3; ++b) many.AddBone("b" + std::to_string(b));
    put(many);

    std::printf("%d seeds in %s\n", written, dir.c_str());
    return 0;
}
