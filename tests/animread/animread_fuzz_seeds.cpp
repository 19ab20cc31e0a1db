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

    Motion one_key;
    one_key.times = {0};
    put(one_key);
    one_key.AddBone("body");
    one_key.AddBone("", true);
    put(one_key);

    put(test::SampleMotion());
    WriteOptions crlf;
    crlf.crlf = true;
    crlf.comment = "sample\nsecond line";
    put(test::SampleMotion(), crlf);
    put(test::ExtremeMotion());

    Motion many;
    for (int k = 0; k < 40; ++k) many.times.push_back(k * 7);
    for (int b = 0; b < 3; ++b) many.AddBone("b" + std::to_string(b));
    put(many);

    std::printf("%d seeds in %s\n", written, dir.c_str());
    return 0;
}
