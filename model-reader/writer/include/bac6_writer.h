// BAC6 models in memory, and their text form.
//
// The model holds every entity figread reads, in the order and with the
// values figread keeps, so a model written here and read back compares equal
// field by field. Tools, tests and the glTF importer write BAC6 files only
// through this writer.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace quenlo::bac6 {

// Limits of what the writer accepts; figread reads a longer text in pieces.
inline constexpr std::size_t kMaxNameBytes = 1024;

using Vec3 = std::array<float, 3>;
using Vec2 = std::array<float, 2>;

struct Texture {
    int sizeX = 0, sizeY = 0;

    bool operator==(const Texture&) const = default;
};

struct Color {
    float r = 0, g = 0, b = 0;  // 0 to 1

    bool operator==(const Color&) const = default;
};

// Defaults are figread's for a material that does not name the field.
struct Material {
    std::string name;
    std::string blendMode = "normal";  // letters, digits and '_'
    bool doubleFace = true;
    bool transparent = false;
    bool lighting = false;
    int textureIndex = -1;  // into Model::textures, -1 for none
    int colorIndex = 0;     // into Model::colors
    float alpha = 1;
    float specular = 0;
    float shininess = 0;

    bool operator==(const Material&) const = default;
};

struct Bone {
    // As written, with the motor tag at its end when the bone drives a servo:
    // "r_elbow(ID-03)", "l_knee(OD-07R)".
    std::string name;
    bool hasChild = false;           // the next bone is its first child
    bool hasBrother = false;         // a later bone is its next sibling
    Vec3 translate{};                // position: the joint's pivot
    Vec3 rotate{};                   // rotation point: pivot + the bone's rest direction
    Vec3 handle{};                   // handle point: pivot + the bone's handle direction
    std::vector<int> vertexIndices;  // the vertices this bone moves

    bool operator==(const Bone&) const = default;
};

// Corners in figread's order: counter-clockwise seen from the front. The file
// lists them the other way round, which the writer takes care of.
struct Polygon {
    int material = 0;
    int corners = 3;  // 3 or 4
    std::array<int, 4> vertex{-1, -1, -1, -1};
    std::array<int, 4> uv{0, 0, 0, 0};  // into Model::uvs; unchecked when the model has none

    bool operator==(const Polygon&) const = default;
};

struct Model {
    std::string figureName;
    std::vector<Texture> textures;
    std::vector<Color> colors;
    std::vector<Material> materials;
    std::vector<Vec3> vertices;
    std::vector<Vec3> normals;  // empty, or one per vertex
    std::vector<Bone> bones;    // depth first: each bone's children follow it
    std::vector<Polygon> polygons;
    std::vector<Vec2> uvs;

    bool operator==(const Model&) const = default;
};

struct WriteOptions {
    // Digits after the point for points, directions, colours, specular and
    // shininess; -1 writes every number in the shortest form that reads back
    // to the same float. Alpha and texture coordinates are always written
    // that way.
    int decimals = -1;
};

// The first reason why the model cannot be written as a file figread reads
// back to the same model, or an empty text when it can: a name with a quote
// or a control byte or too long, a blend mode that is not one word, a number
// that is not finite, normals that are not one per vertex, a polygon with
// other than 3 or 4 corners, an index out of its list.
std::string Check(const Model& model);

// Text of the model; false (with the reason in *error) when Check refuses it.
bool ToText(const Model& model, std::string& out, std::string* error = nullptr,
            const WriteOptions& options = {});

// Writes the text to a file through quenlo::OutputFile (whole or not at all);
// false with the reason in *error.
bool WriteFile(const Model& model, const std::string& path, std::string* error = nullptr,
               const WriteOptions& options = {});

}  // namespace quenlo::bac6
