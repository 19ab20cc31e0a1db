// Small models and motions written into a temporary folder for the conversion
// tests; the real figread and animread read them back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tra4_writer.h"

namespace conversion_test {

struct TestBone {
    std::string name;  // with its motor tag, if any
    std::array<float, 3> position{0, 0, 0};
    std::array<float, 3> rotation{0, -1, 0};  // rest direction (0, -1, 0)
    std::array<float, 3> handle{1, 0, 0};     // swing counter-clockwise about +z
    bool has_child = false;
    bool has_brother = false;
    // A box the bone moves, from corner lo to corner hi; none when they are equal.
    std::array<float, 3> box_lo{}, box_hi{};
};

// A folder of its own per test; the files stay for a look after a failure.
inline std::string TempFolder() {
    std::string pattern = ::testing::TempDir() + "conversion_XXXXXX";
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    return pattern + "/";
}

inline std::string Triple(const std::array<float, 3>& v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.6f %.6f %.6f", v[0], v[1], v[2]);
    return buf;
}

// Without boxes every bone shares one triangle; with boxes each boxed bone
// owns eight corners (normals pointing outward through them) and six quads.
inline std::string WriteBac(const std::string& path, const std::vector<TestBone>& bones) {
    std::ofstream f(path);
    f << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"test\")\n";
    std::string coords, normals, faces;
    std::vector<std::string> members(bones.size());
    int vertex = 0;
    for (size_t b = 0; b < bones.size(); ++b) {
        const TestBone& bone = bones[b];
        if (bone.box_lo == bone.box_hi) continue;
        for (int c = 0; c < 8; ++c) {
            std::array<float, 3> p, n;
            for (int i = 0; i < 3; ++i) {
                const bool high = (c >> i) & 1;
                p[i] = high ? bone.box_hi[i] : bone.box_lo[i];
                n[i] = high ? 1.0f : -1.0f;
            }
            coords += "(pnt " + Triple(p) + ")\n";
            normals += "(vct " + Triple(n) + ")\n";
            members[b] += " " + std::to_string(vertex + c);
        }
        // Corner c has bit 0 for x, bit 1 for y, bit 2 for z.
        static const int kQuads[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1},
                                         {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
        for (const auto& q : kQuads) {
            faces += "(face 0 ( i4";
            for (int k : q) faces += " " + std::to_string(vertex + k);
            faces += " ) ( i4 0 0 0 0 ))\n";
        }
        vertex += 8;
    }
    if (vertex == 0) {
        coords = "(pnt 0.0 0.0 0.0)\n(pnt 1.0 0.0 0.0)\n(pnt 0.0 1.0 0.0)\n";
        normals = "(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n";
        faces = "(face 0 ( i3 0 1 2 ) ( i3 0 0 0 ))\n";
    }
    f << "(Vertices\n(coords\n" << coords << ")\n(normals\n" << normals << ")\n)\n(Bones\n";
    for (size_t b = 0; b < bones.size(); ++b) {
        const TestBone& bone = bones[b];
        f << "(bone\n(name \"" << bone.name << "\")\n";
        if (bone.has_child) f << "(hasChild true)\n";
        if (bone.has_brother) f << "(hasBrother true)\n";
        f << "(translate " << Triple(bone.position) << ")\n(rotate " << Triple(bone.rotation)
          << ")\n(handle " << Triple(bone.handle) << ")\n";
        if (!members[b].empty()) f << "(vertexIndices" << members[b] << ")\n";
        f << ")\n";
    }
    f << ")\n(Polygons\n" << faces << ")\n)\n";
    return path;
}

inline std::string WriteTra(const std::string& path, const quenlo::tra4::Motion& motion) {
    std::string error;
    if (!quenlo::tra4::WriteFile(motion, path, &error)) ADD_FAILURE() << error;
    return path;
}

// A motion of the named bones whose rotate values are given per key.
inline quenlo::tra4::Motion MakeMotion(const std::vector<int>& times,
                                       const std::vector<std::string>& names,
                                       const std::vector<std::array<float, 3>>& rotate = {},
                                       const std::vector<bool>& mirror = {}) {
    quenlo::tra4::Motion m;
    m.times = times;
    for (size_t b = 0; b < names.size(); ++b) {
        quenlo::tra4::Bone& bone = m.AddBone(names[b], b < mirror.size() && mirror[b]);
        for (size_t k = 0; k < times.size(); ++k)
            bone.keys[k].rotate = k < rotate.size() ? rotate[k] : std::array<float, 3>{0, 0, 1};
    }
    return m;
}

}  // namespace conversion_test
