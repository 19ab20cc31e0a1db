// quenlo::gltf: glTF 2.0 scenes (.gltf, .glb) to BAC6 models and TRA4 motions
// and back (docs/gltf.md).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bac6_writer.h"
#include "tra4_writer.h"

namespace quenlo::gltf {

// ---- Import ----------------------------------------------------------------

struct ImportOptions {
    int rate_ms = 25;  // one motion-time unit: the playback rate's period
    int skin = 0;      // which skin gives the bones
};

struct ImportedMotion {
    std::string name;  // the animation's name made safe for a file name
    tra4::Motion motion;
    int length_ms = 0;  // last key time x rate_ms: the motion's playing time
};

struct ImportResult {
    bac6::Model model;
    std::vector<int> bone_polygons;  // polygons per bone, in bone order
    std::vector<ImportedMotion> motions;
    std::vector<std::string> warnings;  // one line each, without a line end
};

// Reads a scene from a file (.glb or .gltf, told apart by content). False with
// the reason in *error (one line) for a file that cannot be imported; the
// result is complete only on true.
bool ImportFile(const std::string& path, const ImportOptions& options, ImportResult& result,
                std::string* error);

// The same from memory. External buffers are looked for in base_dir; an
// empty base_dir allows none.
bool ImportMemory(const unsigned char* data, std::size_t size, const std::string& base_dir,
                  const ImportOptions& options, ImportResult& result, std::string* error);

// The files an import writes: DIR/STEM.bac, then DIR/STEM-NAME.tra per motion.
std::vector<std::string> ImportPaths(const ImportResult& result, const std::string& dir,
                                     const std::string& stem);

// Writes every file of ImportPaths. Each is written aside and renamed into
// place only when all were written, so a failure leaves none behind. False
// with the reason in *error.
bool WriteImport(const ImportResult& result, const std::string& dir, const std::string& stem,
                 std::string* error);

// What an import wrote to `paths` (ImportPaths): the model's path with its
// bones, servos and polygons, each bone's polygons, then each motion's path
// with its keys and playing time. One line each, without a line end.
std::vector<std::string> ImportReport(const ImportResult& result,
                                      const std::vector<std::string>& paths);

// ---- Export ----------------------------------------------------------------
// A rigged model and its motions as the preview shows them, in the model's
// units (millimetres) and axes; ExportGlb turns it into one skinned mesh.

using Vec3d = std::array<double, 3>;
// 3x3 rotation, column-major.
using Mat3d = std::array<double, 9>;
inline constexpr Mat3d kIdentity3 = {1, 0, 0, 0, 1, 0, 0, 0, 1};

struct ExportJoint {
    std::string name;
    int parent = -1;    // an earlier joint, -1 for a root
    Vec3d position{};   // the pivot
    Vec3d direction{};  // unit rest direction: the joint's local +Y
    Vec3d handle{};     // unit, perpendicular to direction: the joint's local +Z
};

// A joint's pose, as the preview's bone matrix holds it: a rotation about the
// pivot in model axes, applied inside the parent's pose, and the pivot's
// offset from the parent's pivot (from the origin for a root). At rest the
// rotation is the identity and the offset the pivots' difference.
struct ExportPose {
    Mat3d rotation = kIdentity3;
    Vec3d offset{};
};

struct ExportAnimation {
    std::string name;
    std::vector<double> times;  // seconds, ascending
    // Per joint, one pose per time; empty: the motion leaves the joint at rest.
    std::vector<std::vector<ExportPose>> poses;
};

struct ExportMaterial {
    std::string name;
    // RGBA as BAC6 and the preview have it: display (sRGB) values, which the
    // export turns into glTF's linear base colour.
    std::array<float, 4> color{0.5f, 0.5f, 0.5f, 1.0f};
    bool double_sided = false;
};

struct ExportPrimitive {
    int material = 0;
    std::vector<uint32_t> indices;  // triangles, counter-clockwise from the front
};

struct ExportScene {
    std::string name;
    std::vector<ExportJoint> joints;
    // One entry per vertex: where it is at rest, its unit normal, the joint
    // that wholly carries it.
    std::vector<std::array<float, 3>> positions, normals;
    std::vector<uint16_t> vertex_joint;
    std::vector<ExportMaterial> materials;
    std::vector<ExportPrimitive> primitives;
    std::vector<ExportAnimation> animations;
};

// The scene as a binary glTF (.glb): metres, +Y up as the model is, one node
// per joint with its rest frame, one skin, one animation per motion with
// LINEAR rotation and translation channels. False with the reason in *error
// for a scene it cannot write.
bool ExportGlb(const ExportScene& scene, std::vector<unsigned char>& out, std::string* error);

}  // namespace quenlo::gltf

class CDataInfo;

namespace quenlo::gltf {

// The model figread holds and the motions of a conversion on it (named in
// list order), as the preview builds and poses them: every polygon that
// belongs to a bone, in its material, and one animation per motion with its
// key times x rate_ms. Polygons on no bone and motions without keys are left
// out, each kind counted in one line of *warnings. False with the reason in
// *error. (Target quenlo_gltf_export.)
bool SceneFromConversion(const CDataInfo& data, const std::vector<std::string>& motion_names,
                         int rate_ms, ExportScene& scene, std::vector<std::string>& warnings,
                         std::string* error);

}  // namespace quenlo::gltf
