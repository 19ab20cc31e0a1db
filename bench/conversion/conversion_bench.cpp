// Times the conversion of 30 motions of 600 keys each for a 24-servo model: the
// whole job as the window runs it (files read by figread and animread), and the
// store alone (values stored, commands built) to show what its linear searches
// cost.
//   conversion_bench [runs]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "tra4_writer.h"

namespace {

constexpr int kServos = 24, kMotions = 30, kKeys = 600;

class SilentUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view) override {}
    bool Confirm(std::string_view, std::string_view) override { return false; }
    void SetBusy(bool) override {}
};

std::string BoneName(int b) {
    return "joint" + std::to_string(b);
}

std::string WriteModel(const std::string& dir) {
    const std::string path = dir + "/bench.bac";
    std::ofstream f(path);
    f << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"bench\")\n(Vertices\n(coords\n"
      << "(pnt 0.0 0.0 0.0)\n(pnt 1.0 0.0 0.0)\n(pnt 0.0 1.0 0.0)\n)\n(normals\n"
      << "(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n)\n)\n(Bones\n"
      << "(bone\n(name \"body\")\n(hasChild true)\n(vertexIndices 0 1 2)\n)\n";
    for (int b = 0; b < kServos; ++b) {
        // Servo numbers 0 to 23: ID and OD alternating.
        char tag[16];
        std::snprintf(tag, sizeof tag, "(%s-%02d%s)", b % 2 ? "OD" : "ID", b / 2, b % 3 ? "" : "R");
        f << "(bone\n(name \"" << BoneName(b) << tag << "\")\n(translate 0.0 " << 10 * b
          << ".0 0.0)\n(rotate 0.0 " << 10 * b - 5 << ".0 0.0)\n(handle 5.0 " << 10 * b
          << ".0 0.0)\n)\n";
    }
    f << ")\n(Polygons\n(face 0 ( i3 0 1 2 ) ( i3 0 0 0 ))\n)\n)\n";
    return path;
}

std::vector<std::string> WriteMotions(const std::string& dir) {
    std::vector<std::string> paths;
    for (int m = 0; m < kMotions; ++m) {
        quenlo::tra4::Motion motion;
        for (int k = 0; k < kKeys; ++k) motion.times.push_back(4 * k);
        motion.AddBone("body");
        for (int b = 0; b < kServos; ++b) {
            quenlo::tra4::Bone& bone = motion.AddBone(BoneName(b), b % 3 == 0);
            for (int k = 0; k < kKeys; ++k) {
                const double a = std::sin(0.01 * (k + 7 * b + 13 * m)) * 1.5;
                bone.keys[k].rotate = {0.0f, static_cast<float>(std::sin(a)),
                                       static_cast<float>(std::cos(a))};
            }
        }
        paths.push_back(dir + "/m" + std::to_string(m) + ".tra");
        std::string error;
        if (!quenlo::tra4::WriteFile(motion, paths.back(), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
    }
    return paths;
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char tmpl[] = "/tmp/conversion_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const std::string model = WriteModel(dir);
    const std::vector<std::string> motions = WriteMotions(dir);

    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    SilentUi ui;
    double best_job = 1e30, best_store = 1e30;
    size_t frames = 0;
    for (int r = 0; r < runs; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        auto data = quenlo::RunConversion(ui, model, motions, 3);
        auto t1 = std::chrono::steady_clock::now();
        if (!data) return 1;
        best_job = std::min(best_job, Ms(t1 - t0));
        frames = 0;
        for (const MofMotion& m : data->mof_data()->motions()) frames += m.frames.size();

        // The store alone, from the values the job computed.
        CMofData store;
        t0 = std::chrono::steady_clock::now();
        for (const MofMotion& m : data->mof_data()->motions())
            for (const MofKey& k : m.keys)
                for (const MofValue& v : k.values)
                    store.StoreValue(m.number, k.time, v.bone, v.motor_code,
                                     static_cast<float>(v.angle), v.roll, v.translation.data(),
                                     v.rotation.data());
        store.BuildFrames();
        t1 = std::chrono::steady_clock::now();
        best_store = std::min(best_store, Ms(t1 - t0));
    }
    quenlo::SetLogSink({});
    std::printf("conversion of %d motions x %d keys x %d servos (%zu commands), best of %d:\n",
                kMotions, kKeys, kServos, frames, runs);
    std::printf("  whole job (read, convert, store, build): %8.1f ms\n", best_job);
    std::printf("  store and build alone:                   %8.1f ms\n", best_store);
    for (const std::string& p : motions) std::remove(p.c_str());
    std::remove(model.c_str());
    rmdir(dir.c_str());
    return 0;
}
