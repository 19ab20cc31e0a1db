// Times CreateBacObject on a generated model of 200,000 faces in 40 bones, and
// Render off-screen (Mesa's software OpenGL) for that model and for the
// example robot, at the size of the window's preview panel.
//   preview_bench [FRAMES]   (frames timed per model, default 60)
#include <GL/gl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "conversion.h"
#include "figread.h"
#include "preview_offscreen.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace {

using quenlo::preview::kPreviewPanelHeight;
using quenlo::preview::kPreviewPanelWidth;
using quenlo::preview::OffscreenPreview;

constexpr int kBones = 40, kRings = 51, kSides = 50;  // 2 x 50 x 50 triangles a bone
constexpr int kFaces = kBones * (kRings - 1) * kSides * 2;

// A chain of 40 bones up the y axis, each a tube of radius 20 and length 10
// around its own segment, with a normal per vertex.
std::string MakeModel() {
    std::string s = ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"bench\")\n";
    s += "(Colors\n(f3 0.2 0.4 0.8)\n)\n(Materials\n(material\n(name \"m\")\n(colorIndex 0)\n"
         "(specular 0.5)\n(shininess 20.0)\n)\n)\n";
    std::string coords, normals, bones, faces;
    char line[200];
    const double pi = 3.14159265358979;
    for (int b = 0; b < kBones; ++b) {
        const int first = b * kRings * kSides;
        for (int r = 0; r < kRings; ++r)
            for (int k = 0; k < kSides; ++k) {
                const double a = 2 * pi * k / kSides, y = 10.0 * b + 10.0 * r / (kRings - 1);
                std::snprintf(line, sizeof line, "(pnt %.4f %.4f %.4f)\n", 20 * std::cos(a), y,
                              20 * std::sin(a));
                coords += line;
                std::snprintf(line, sizeof line, "(vct %.4f 0.0 %.4f)\n", std::cos(a), std::sin(a));
                normals += line;
            }
        std::snprintf(line, sizeof line,
                      "(bone\n(name \"b%d(ID-%02d)\")\n(hasChild %s)\n(translate 0.0 %d.0 0.0)\n"
                      "(rotate 0.0 %d.0 0.0)\n(handle 10.0 %d.0 0.0)\n(vertexIndices",
                      b, b % 36, b + 1 < kBones ? "true" : "false", 10 * b, 10 * b + 10, 10 * b);
        bones += line;
        for (int v = first; v < first + kRings * kSides; ++v) {
            bones += ' ';
            bones += std::to_string(v);
        }
        bones += ")\n)\n";
        for (int r = 0; r + 1 < kRings; ++r)
            for (int k = 0; k < kSides; ++k) {
                const int v0 = first + r * kSides + k, v1 = first + r * kSides + (k + 1) % kSides;
                const int v2 = v1 + kSides, v3 = v0 + kSides;
                std::snprintf(line, sizeof line,
                              "(face 0 ( i3 %d %d %d ) ( i3 0 0 0 ))\n(face 0 ( i3 %d %d %d ) ( i3 "
                              "0 0 0 ))\n",
                              v0, v1, v2, v0, v2, v3);
                faces += line;
            }
    }
    s += "(Vertices\n(coords\n" + coords + ")\n(normals\n" + normals + ")\n)\n";
    s += "(Bones\n" + bones + ")\n(Polygons\n" + faces + ")\n)\n";
    return s;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class QuietUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view) override {}
    bool Confirm(std::string_view, std::string_view) override { return false; }
    void SetBusy(bool) override {}
};

// CPU time of the whole process, the GL driver's threads included: on a
// machine shared with other work this is what the frames cost.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// First frame (which compiles the display lists), then the mean of `frames`,
// in wall-clock time and in CPU time.
void TimeFrames(OffscreenPreview& preview, const char* name, int frames) {
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    preview.Render();
    const double first = Seconds(Clock::now() - t0);
    t0 = Clock::now();
    const double cpu0 = CpuSeconds();
    for (int i = 0; i < frames; ++i) preview.Render();
    const double cpu = (CpuSeconds() - cpu0) / frames;
    const double mean = Seconds(Clock::now() - t0) / frames;
    std::printf(
        "%s\n  first frame %.1f ms; then %.2f ms a frame (%.1f frames/s), CPU %.2f ms a frame "
        "(%d frames)\n",
        name, first * 1e3, mean * 1e3, 1 / mean, cpu * 1e3, frames);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    quenlo::SetLogSink([](quenlo::Stream, std::string_view) {});  // the progress lines
    using Clock = std::chrono::steady_clock;

    OffscreenPreview preview;
    std::string error;
    if (!preview.Create(kPreviewPanelWidth, kPreviewPanelHeight, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    COpenGLUtil& renderer = preview.renderer();
    std::printf("off-screen OpenGL: %s, %dx%d\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)), kPreviewPanelWidth,
                kPreviewPanelHeight);

    {
        const std::string examples = QUENLO_EXAMPLES_DIR;
        QuietUi ui;
        auto data = quenlo::RunConversion(ui, examples + "/robot.bac", {examples + "/wave.tra"},
                                          quenlo::kDefaultRate);
        if (!data || !renderer.ShowModel(*data)) return 1;
        renderer.scene().SelectMotion(0);
        for (auto& b : renderer.scene().bones()) CPreviewScene::SetPose(*b, 100);
        TimeFrames(preview, "example robot, 120 quads, mid-wave:", frames);
    }

    const std::string path = "/tmp/quenlo_preview_bench_" + std::to_string(getpid()) + ".bac";
    std::ofstream(path) << MakeModel();
    const int analysed = fnbacanalysis(path.c_str());
    std::remove(path.c_str());
    if (analysed != 0 || fnbacGetPolygonNumber() != kFaces) {
        std::fprintf(stderr, "the generated model was not read\n");
        return 1;
    }
    CDataInfo data;  // no motions: the build reads the model alone
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto t0 = Clock::now();
        const bool built = renderer.ShowModel(data);
        best = std::min(best, Seconds(Clock::now() - t0));
        if (!built) return 1;
    }
    std::printf("CreateBacObject, %d faces in %d bones: %.3f s (best of 3)\n", kFaces, kBones,
                best);
    TimeFrames(preview, "generated model, 200,000 triangles in 40 bones:", frames);
    renderer.scene().ClearBacObject();
    preview.Render();  // deletes the display lists
    fnbacrelease();
    return 0;
}
