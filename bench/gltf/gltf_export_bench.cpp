// Times export-gltf's work on a generated model of 200,000 triangles in 40
// bones (36 of them servos) with four motions of 100 keys: building the scene
// with the preview's skeleton, writing the .glb bytes and the file. The
// model's analysis and the conversion that come before it are timed apart.
//   gltf_export_bench [RUNS]   (default 3; the best run counts)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bac6_writer.h"
#include "conversion.h"
#include "gltf.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "tra4_writer.h"

namespace {

constexpr int kBones = 40, kRings = 51, kSides = 50;  // 2 x 50 x 50 triangles a bone
constexpr int kKeys = 100, kMotions = 4;

class SilentUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view) override {}
    bool Confirm(std::string_view, std::string_view) override { return false; }
    void SetBusy(bool) override {}
};

// A chain of tubes up the y axis, each bone's own, as triangles.
quenlo::bac6::Model MakeModel() {
    quenlo::bac6::Model m;
    m.figureName = "bench";
    m.colors.push_back({0.2f, 0.4f, 0.8f});
    m.materials.emplace_back().name = "m";
    const double pi = 3.14159265358979;
    for (int b = 0; b < kBones; ++b) {
        quenlo::bac6::Bone& bone = m.bones.emplace_back();
        char name[32];
        std::snprintf(name, sizeof name, "b%d(%s-%02d)", b, b % 2 ? "OD" : "ID", b / 2);
        bone.name = b < 36 ? name : "free" + std::to_string(b);
        bone.hasChild = b + 1 < kBones;
        const float y = 10.0f * static_cast<float>(b);
        bone.translate = {0, y, 0};
        bone.rotate = {0, y + 10, 0};
        bone.handle = {10, y, 0};
        const int first = static_cast<int>(m.vertices.size());
        for (int r = 0; r < kRings; ++r)
            for (int k = 0; k < kSides; ++k) {
                const double a = 2 * pi * k / kSides;
                bone.vertexIndices.push_back(static_cast<int>(m.vertices.size()));
                m.vertices.push_back({static_cast<float>(20 * std::cos(a)),
                                      y + 10.0f * static_cast<float>(r) / (kRings - 1),
                                      static_cast<float>(20 * std::sin(a))});
                m.normals.push_back(
                    {static_cast<float>(std::cos(a)), 0, static_cast<float>(std::sin(a))});
            }
        for (int r = 0; r + 1 < kRings; ++r)
            for (int k = 0; k < kSides; ++k) {
                const int a = first + r * kSides + k, c = first + r * kSides + (k + 1) % kSides;
                m.polygons.push_back({0, 3, {a, c, c + kSides, -1}, {}});
                m.polygons.push_back({0, 3, {a, c + kSides, a + kSides, -1}, {}});
            }
    }
    return m;
}

quenlo::tra4::Motion MakeMotion(int seed) {
    quenlo::tra4::Motion m;
    for (int k = 0; k < kKeys; ++k) m.times.push_back(k * 4);
    for (int b = 0; b < kBones; ++b) {
        quenlo::tra4::Bone& bone = m.AddBone("b" + std::to_string(b));
        for (int k = 0; k < kKeys; ++k) {
            const float a = 0.05f * static_cast<float>(k + seed + b);
            bone.keys[static_cast<size_t>(k)].rotate = {std::sin(a), 0.3f * std::cos(a), 1};
            bone.keys[static_cast<size_t>(k)].roll = 10 * std::sin(a);
        }
    }
    return m;
}

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char dir_template[] = "/tmp/quenlo-gltf-bench-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    std::string error;
    const quenlo::bac6::Model model = MakeModel();
    if (!quenlo::bac6::WriteFile(model, dir + "/bench.bac", &error)) {
        std::fprintf(stderr, "gltf_export_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> motions, names;
    for (int i = 0; i < kMotions; ++i) {
        names.push_back("motion" + std::to_string(i));
        motions.push_back(dir + "/" + names.back() + ".tra");
        if (!quenlo::tra4::WriteFile(MakeMotion(i * 17), motions.back(), &error)) {
            std::fprintf(stderr, "gltf_export_bench: %s\n", error.c_str());
            return 1;
        }
    }

    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});
    SilentUi ui;
    auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<CDataInfo> data =
        quenlo::RunConversion(ui, dir + "/bench.bac", motions, quenlo::kDefaultRate);
    const double convert = Since(t0);
    if (!data) {
        std::fprintf(stderr, "gltf_export_bench: the conversion failed\n");
        return 1;
    }

    double best_scene = 1e9, best_glb = 1e9, best_file = 1e9;
    size_t bytes = 0, triangles = 0;
    for (int run = 0; run < runs; ++run) {
        quenlo::gltf::ExportScene scene;
        std::vector<std::string> warnings;
        t0 = std::chrono::steady_clock::now();
        if (!quenlo::gltf::SceneFromConversion(*data, names, 25, scene, warnings, &error)) {
            std::fprintf(stderr, "gltf_export_bench: %s\n", error.c_str());
            return 1;
        }
        const double built = Since(t0);
        std::vector<unsigned char> glb;
        if (!quenlo::gltf::ExportGlb(scene, glb, &error)) {
            std::fprintf(stderr, "gltf_export_bench: %s\n", error.c_str());
            return 1;
        }
        const double encoded = Since(t0);
        std::ofstream(dir + "/bench.glb", std::ios::binary)
            .write(reinterpret_cast<const char*>(glb.data()),
                   static_cast<std::streamsize>(glb.size()));
        const double written = Since(t0);
        best_scene = std::min(best_scene, built);
        best_glb = std::min(best_glb, encoded - built);
        best_file = std::min(best_file, written);
        bytes = glb.size();
        triangles = 0;
        for (const auto& p : scene.primitives) triangles += p.indices.size() / 3;
    }
    quenlo::SetLogSink({});
    std::printf("model: %zu triangles, %d bones, %d motions of %d keys; .glb of %.1f MB\n",
                triangles, kBones, kMotions, kKeys, static_cast<double>(bytes) / 1e6);
    std::printf("analysis and conversion (before the export): %7.3f s\n", convert);
    std::printf("scene (preview skeleton, mesh, poses):       %7.3f s\n", best_scene);
    std::printf("glTF bytes (tinygltf):                       %7.3f s\n", best_glb);
    std::printf("export, scene to file:                       %7.3f s  (best of %d; target 1 s)\n",
                best_file, runs);
    std::system(("rm -rf '" + dir + "'").c_str());
    return best_file < 1.0 ? 0 : 1;
}
