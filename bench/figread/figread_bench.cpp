// Times the analysis of a large generated model and the polygon-to-bone
// queries, each beside the plain linear search on the same model.
//   figread_bench [--full]   (--full runs the linear search on every polygon)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "figread.h"
#include "reader.h"

namespace {

constexpr int kVertices = 100000, kFaces = 200000, kBones = 40;

// Bones own consecutive vertex ranges; most faces lie in one range, one in
// ten straddles two ranges and belongs to no bone.
std::string MakeModel() {
    std::mt19937 rng(1);
    std::string s = ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"bench\")\n";
    s += "(Materials\n(material\n(name \"m\")\n(alpha 1.0)\n)\n)\n(Vertices\n(coords\n";
    char line[160];
    for (int v = 0; v < kVertices; ++v) {
        std::snprintf(line, sizeof line, "(pnt %.4f %.4f %.4f)\n", (rng() % 20000) / 100.0 - 100,
                      (rng() % 20000) / 100.0 - 100, (rng() % 20000) / 100.0 - 100);
        s += line;
    }
    s += ")\n)\n(Bones\n";
    const int per = kVertices / kBones;
    for (int b = 0; b < kBones; ++b) {
        std::snprintf(line, sizeof line,
                      "(bone\n(name \"b%d(ID-%02d)\")\n(hasChild true)\n(translate 0.0 1.5 0.0)\n"
                      "(vertexIndices",
                      b, b % 40);
        s += line;
        int first = b * per, last = (b + 1) * per;
        for (int v = first; v < last; ++v) {
            s += ' ';
            s += std::to_string(v);
            if ((v - first) % 20 == 19) s += '\n';
        }
        s += ")\n)\n";
    }
    s += ")\n(Polygons\n";
    for (int f = 0; f < kFaces; ++f) {
        int base = rng() % 10 ? int(rng() % kBones) * per + int(rng() % (per - 8))
                              : int(rng() % (kBones - 1) + 1) * per - 2;
        bool quad = rng() % 3 == 0;
        if (quad)
            std::snprintf(line, sizeof line, "(face 0 ( i4 %d %d %d %d ) ( i4 0 1 2 3 ))\n", base,
                          base + 1, base + 5, base + 4);
        else
            std::snprintf(line, sizeof line, "(face 0 ( i3 %d %d %d ) ( i3 0 1 2 ))\n", base,
                          base + 1, base + 4);
        s += line;
    }
    s += ")\n)\n";
    return s;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int LinearPolygonBone(const std::vector<std::vector<int>>& bones, int polygon) {
    int v[4];
    int n = fnbacGetPolygonVertex(polygon, v);
    if (n <= 0) return -1;
    for (size_t b = 0; b < bones.size(); ++b) {
        int found = 0;
        while (found < n && std::find(bones[b].begin(), bones[b].end(), v[found]) != bones[b].end())
            ++found;
        if (found == n) return static_cast<int>(b);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool full = argc > 1 && !std::strcmp(argv[1], "--full");
    using Clock = std::chrono::steady_clock;
    const std::string text = MakeModel();
    const double mb = text.size() / 1e6;

    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto t0 = Clock::now();
        int r = quenlo::figread::AnalyzeText(text);
        best = std::min(best, Seconds(Clock::now() - t0));
        if (r != 0 || fnbacGetPolygonNumber() != kFaces || fnbacGetVertexNumber() != kVertices ||
            fnbacGetBoneNumber() != kBones) {
            std::fprintf(stderr, "analysis failed\n");
            return 1;
        }
    }
    std::printf("model: %d vertices, %d faces, %d bones, %.2f MB of BAC6 text\n", kVertices, kFaces,
                kBones, mb);
    std::printf("analysis:               %8.3f s  %7.1f MB/s (best of 3)\n", best, mb / best);

    std::vector<int> fast(kFaces);
    auto t0 = Clock::now();
    fast[0] = fnbacGetPolygonBone(0);
    auto first = Clock::now() - t0;
    for (int p = 1; p < kFaces; ++p) fast[p] = fnbacGetPolygonBone(p);
    double indexed = Seconds(Clock::now() - t0);
    std::printf("indexed queries (all):  %8.4f s  (first call, which builds the index: %.4f s)\n",
                indexed, Seconds(first));

    std::vector<std::vector<int>> bones(kBones);
    for (int b = 0; b < kBones; ++b) {
        bones[b].resize(fnbacGetBoneVertexNumber(b));
        fnbacGetBoneVertexAllValue(b, bones[b].data(), bones[b].size());
    }
    const int step = full ? 1 : 20;
    int compared = 0, mismatches = 0, unowned = 0;
    t0 = Clock::now();
    for (int p = 0; p < kFaces; p += step, ++compared)
        if (LinearPolygonBone(bones, p) != fast[p]) ++mismatches;
    double linear = Seconds(Clock::now() - t0) * kFaces / compared;
    for (int b : fast) unowned += b < 0;
    std::printf("linear queries (all):   %8.4f s%s\n", linear,
                full ? "" : "  (timed on every 20th polygon, scaled to all)");
    std::printf(
        "speed-up: %.0fx; answers compared: %d, mismatches: %d; polygons with no bone: %d\n",
        linear / indexed, compared, mismatches, unowned);
    fnbacrelease();
    return mismatches ? 1 : 0;
}
