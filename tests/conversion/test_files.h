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

inline std::string WriteBac(const std::string& path, const std::vector<TestBone>& bones) {
    std::ofstream f(path);
    f << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"test\")\n";
    f << "(Vertices\n(coords\n(pnt 0.0 0.0 0.0)\n(pnt 1.0 0.0 0.0)\n(pnt 0.0 1.0 0.0)\n)\n";
    f << "(normals\n(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n(vct 0.0 0.0 1.0)\n)\n)\n(Bones\n";
    for (const TestBone& b : bones) {
        f << "(bone\n(name \"" << b.name << "\")\n(translate " << Triple(b.position)
          << ")\n(rotate " << Triple(b.rotation) << ")\n(handle " << Triple(b.handle) << ")\n)\n";
    }
    f << ")\n(Polygons\n(face 0 ( i3 0 1 2 ) ( i3 0 0 0 ))\n)\n)\n";
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
