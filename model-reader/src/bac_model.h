// The in-memory model of one BAC6 file and the state an analysis fills.
// Internal to figread: the program sees only the flat exports of figread.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenlo::figread {

struct BacTexture {
    int sizeX = 0;
    int sizeY = 0;
};

struct BacColor {
    float r = 0, g = 0, b = 0;
};

struct BacMaterial {
    bool doubleFace = true;
    bool transparent = false;
    bool lighting = false;
    int textureIndex = -1;
    int colorIndex = 0;
    float alpha = 0;
    float specular = 0;
    float shininess = 0;
    std::string name;
    std::string blendMode = "normal";
};

using Vec3 = std::array<float, 3>;
using Vec2 = std::array<float, 2>;

struct BacBone {
    int index = 0;
    int motorIndex = -1;
    int motorGroup = 0;
    bool hasChild = false;
    bool hasBrother = false;
    bool reverse = false;
    Vec3 translate{};
    Vec3 rotate{};
    Vec3 handle{};
    std::string name;
    std::vector<int> vertexIndices;
};

// Corners are kept in the reverse of the written order. Slots past the corner
// count hold -1; a face whose corner lists could not be read has 0 corners.
struct BacPolygon {
    int material = 0;
    int corners = 0;
    int vertex[4] = {-1, -1, -1, -1};
    int uv[4] = {-1, -1, -1, -1};
};

struct BacGroup {
    std::vector<BacPolygon> faces;
};

struct BacModel {
    std::string figureName;
    std::vector<BacTexture> textures;
    std::vector<BacColor> colors;
    std::vector<BacMaterial> materials;
    std::vector<Vec3> vertices;
    std::vector<Vec3> normals;
    std::vector<BacBone> bones;
    std::vector<Vec2> uvs;
    std::vector<BacPolygon> polygons;
    std::vector<BacGroup> groups;

    void Clear() { *this = BacModel(); }
};

// What an analysis works on: the model, the face context that carries over
// from one analysis to the next, and a count that moves on every time the
// model is emptied, so derived indexes know to rebuild.
struct ReaderState {
    std::unique_ptr<BacModel> model;
    bool groupMode = false;
    uint64_t generation = 0;

    // The model emptied for a new analysis, made on first use.
    BacModel& Fresh() {
        if (model)
            model->Clear();
        else
            model = std::make_unique<BacModel>();
        ++generation;
        return *model;
    }
    // Empties and deletes the model (fnbacrelease).
    void Release() {
        if (!model) return;
        model.reset();
        ++generation;
    }
};

}  // namespace quenlo::figread
