// The 3D preview without any OpenGL: a posable copy of the model (bones that
// own their faces and one key track per motion), the skeleton mathematics,
// the camera (trackball, pan, zoom) and the timed playing of one motion step.
// The renderer (preview_gl.h) draws what this builds; everything here is
// tested without a GL context.
//
// Vectors are three floats, matrices 16 floats in column-major order (row r,
// column c at 4c + r), angles degrees, all in single precision.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CDataInfo;
struct TraMotion;
namespace quenlo {
class Clock;
}

namespace quenlo::preview {

using PreviewVector = std::array<float, 3>;
using PreviewMatrix = std::array<float, 16>;

// The preview panel of the main window, in pixels: 177 x 315 dialog units of
// the dialog font.
inline constexpr int32_t kPreviewPanelWidth = 266;
inline constexpr int32_t kPreviewPanelHeight = 512;

inline constexpr PreviewMatrix kIdentityMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// One key of one bone in one motion, in model space.
struct PreviewKey {
    int32_t frame = 0;            // key time
    PreviewVector direction{};    // unit direction the bone points to
    float roll = 0.0f;            // degrees about the rest direction
    PreviewVector translation{};  // added to the bone's offset
};
using PreviewTrack = std::vector<PreviewKey>;

struct PreviewFace {
    bool is_quad = false;                      // else a triangle: the first 3 corners
    std::array<PreviewVector, 4> positions{};  // model space, in the model's corner order
    std::array<PreviewVector, 4> normals{};
    std::array<float, 4> colour{0.5f, 0.5f, 0.5f, 1.0f};
    float specular = 1.0f;
    float shininess = 1.0f;
};

struct PreviewBone {
    std::vector<PreviewFace> faces;
    PreviewVector offset{};    // position minus the parent's position
    PreviewVector position{};  // pivot in model space
    PreviewVector rotation_point{};
    PreviewVector handle_point{};
    PreviewVector axis_u{}, axis_v{}, axis_w{};  // W: the rest direction
    PreviewVector pose_translation{};
    PreviewVector pose_direction{};
    float pose_roll = 0.0f;
    PreviewMatrix matrix = kIdentityMatrix;
    bool has_child = false;
    bool has_brother = false;
    // The bone whose matrix is in force when the walk draws this one; -1: none.
    int parent = -1;
    std::vector<PreviewTrack> tracks;  // one per motion of the conversion
    int active_track = -1;             // index into tracks; -1: none chosen
};

// ---- Skeleton mathematics ----------------------------------------------------
PreviewVector Normalised(const PreviewVector& v);  // length 0 stays 0
PreviewVector Cross(const PreviewVector& a, const PreviewVector& b);
float Dot(const PreviewVector& a, const PreviewVector& b);
// Rotation by degrees about a unit axis; negative angles turn the other way.
PreviewMatrix AxisRotation(const PreviewVector& axis, float degrees);
PreviewMatrix Multiply(const PreviewMatrix& p, const PreviewMatrix& m);
PreviewVector TransformPoint(const PreviewMatrix& m, const PreviewVector& v);

// The draw walk's matrix stack over the has-child / has-brother flags: a bone
// with a brother saves the matrix in force, a bone without a child gives the
// saved one back. Next answers the bone whose matrix is in force when bone
// `index` is drawn (-1: none) and steps past it.
class SkeletonWalk {
  public:
    int Next(int index, bool has_child, bool has_brother);

  private:
    int current_ = -1;
    std::vector<int> saved_;
};

// Frame, offset and rest pose of a bone against its parent (null: none).
void SetUpBone(PreviewBone& bone, const PreviewBone* parent);
// The bone's track of one motion: its keys turned into model space. Empty
// when the motion has no keys, fewer bones than `bone_index`, or fewer keys
// for this bone than its key count; *short_motion tells the last two apart.
PreviewTrack BuildTrack(const PreviewBone& bone, const TraMotion& motion, size_t bone_index,
                        bool* short_motion);

// ---- The reach of the model ---------------------------------------------------
// A sphere that every vertex stays inside whatever the pose: each bone turns
// about its pivot, so a vertex lies no farther from its root bone's pivot
// than the chain of bone offsets above it plus its own distance from its
// bone's pivot, plus the largest key translation of every bone on the way.
struct PreviewReach {
    PreviewVector centre{};
    float radius = 0.0f;  // 0: no vertex
};
// The reach of bones whose parents come before them (as the walk orders
// them); the centre is the middle of the roots' spheres, so one root's pivot.
PreviewReach ModelReach(const std::vector<std::unique_ptr<PreviewBone>>& bones);

// The preview's copy of a model, read apart from any scene: a conversion's
// thread reads it, the window's thread puts it in its scene.
struct ModelCopy {
    std::vector<std::unique_ptr<PreviewBone>> bones;
    PreviewReach reach;
    float size = 250.0f;  // the largest extent, or 250 when unknown
    bool built = false;   // false after a failure line on standard error
};

// ---- The camera ---------------------------------------------------------------
struct PreviewLight {
    bool enabled = false;
    std::array<float, 4> position{0, 0, 1, 0};
    std::array<float, 4> ambient{0, 0, 0, 1};
    std::array<float, 4> diffuse{0, 0, 0, 1};
    std::array<float, 4> specular{0, 0, 0, 1};
    std::array<float, 3> spot_direction{0, 0, -1};
    float spot_exponent = 0.0f;
    float spot_cutoff = 180.0f;
    float constant_attenuation = 1.0f;
    float linear_attenuation = 0.0f;
    float quadratic_attenuation = 0.0f;
};

enum class MouseMode { Idle = 0, Rotate = 1, Pan = 2, Zoom = 3 };

// The eye looks down -z at the centre from `distance` away; the model turns
// about the centre by `rotation`, and `pan` moves the picture across the panel.
// Before any model: the grid at the origin, edge-on.
struct PreviewView {
    PreviewMatrix rotation = kIdentityMatrix;
    PreviewVector centre{};      // model space; what the view turns about
    float distance = 501.0f;     // from the eye to the centre
    float depth_reach = 499.0f;  // what is drawn lies within this of the centre
    float zoom = 1.0f;           // pixels per model unit at the centre's depth
    PreviewVector pan{};         // zoom pixels per unit; z stays 0
    PreviewVector last_trackball{};
    std::array<PreviewLight, 4> lights{};
    MouseMode mouse_mode = MouseMode::Idle;
    int32_t last_x = 0, last_y = 0;
    int32_t width = 0, height = 0;  // of the panel, in the mouse's pixels
    float angle_sum = 0.0f;         // of every trackball turn, for the log
};

// The perspective of a view, in OpenGL's glFrustum terms.
struct PreviewFrustum {
    double left, right, bottom, top, near_plane, far_plane;
};

// The preview's camera: trackball turns about the model's centre, pan, zoom,
// and the start view that frames the model's reach. On the window's thread.
class PreviewCamera {
  public:
    PreviewCamera();

    void SetViewSize(int32_t width, int32_t height);
    // The start view: seen from above at an angle, the reach's sphere
    // centred in the panel and filling its smaller side less a margin, so
    // that every pose shows whole. Kept for Reset.
    void Frame(const PreviewReach& reach);
    // Back to the start view of the last Frame, at the current panel size.
    void Reset();

    static PreviewVector TrackballVector(float x, float y, float width, float height);
    void ApplyRotation(float angle, float x, float y, float z);
    // Answers true when the view changed and wants a repaint.
    bool MouseMove(int32_t x, int32_t y);
    void LeftButtonDown(int32_t x, int32_t y);
    void LeftButtonUp();
    void RightButtonDown(int32_t x, int32_t y);
    void RightButtonUp();
    bool MouseWheel(int32_t x, int32_t y, int16_t delta);

    // Model space to the eye's space (the model-view matrix), the perspective,
    // and where a model-space point lands in the panel (pixels, top row first).
    PreviewMatrix ViewMatrix() const;
    PreviewFrustum Frustum() const;
    std::array<float, 2> ToPanel(const PreviewVector& point) const;
    const PreviewView& view() const { return view_; }

  private:
    PreviewView view_;
    PreviewReach framed_;
    bool has_framed_ = false;
};

// The fraction of the panel's smaller side the reach's sphere fills at the
// start view.
inline constexpr float kReachFill = 0.95f;

}  // namespace quenlo::preview

// ---- The preview's model and animation, without drawing or camera ---------------
// The bones and their faces change only on the window's thread (the one that
// draws) while no preview thread runs; poses and active tracks change under
// pose_mutex(), from either thread.
class CPreviewScene {
  public:
    using BoneList = std::vector<std::unique_ptr<quenlo::preview::PreviewBone>>;

    CPreviewScene();
    virtual ~CPreviewScene();
    CPreviewScene(const CPreviewScene&) = delete;
    CPreviewScene& operator=(const CPreviewScene&) = delete;

    // ---- Model: built on the drawing thread after a conversion, while figread
    // still holds the model. size_out (may be null) receives the model's
    // largest extent. False after a failure line on standard error.
    bool CreateBacObject(float* size_out, const CDataInfo& data);
    // The same in two steps: reading touches figread and no scene, so any
    // one thread may do it while figread holds the model; the scene takes
    // the model on the window's thread.
    static quenlo::preview::ModelCopy ReadBacObject(const CDataInfo& data);
    void SetBacObject(quenlo::preview::ModelCopy model);
    void ClearBacObject();
    // Counts the models built and cleared: a renderer's display lists belong
    // to the model of one count.
    uint64_t model_generation() const { return model_generation_; }
    // The sphere every pose of the model stays inside.
    const quenlo::preview::PreviewReach& reach() const { return reach_; }
    // Every bone of the model plays its track of this motion (none beyond them).
    void SelectMotion(int motion);
    // Track 0 of every bone, posed at frame 0.
    void ResetPose();
    static void SetPose(quenlo::preview::PreviewBone& bone, int32_t frame);
    static void BoneMatrix(quenlo::preview::PreviewBone& bone);
    // Rebuilds every bone's matrix and hands each bone, in order, with the
    // product of matrices the walk has in force for it (its vertices minus
    // its position are drawn under that product). Call under pose_mutex().
    void WalkSkeleton(const std::function<void(quenlo::preview::PreviewBone&,
                                               const quenlo::preview::PreviewMatrix&)>& draw);
    // The walk's matrix of every bone (identity for a missing one), copied
    // under pose_mutex(): what a frame draws, taken in one piece.
    void CopyPose(std::vector<quenlo::preview::PreviewMatrix>& in_force);
    BoneList& bones() { return bones_; }
    const BoneList& bones() const { return bones_; }

    // ---- Animation, on the preview thread. Shows one step of `count` frames
    // of `period` ms, moving from key time f0 to f0 + span; the first
    // `startup` ms were spent preparing it. Each frame is posed and repainted
    // through the repaint function, which returns once the frame is shown.
    void PlaySegment(int32_t startup, int32_t period, int32_t count, float f0, float span);
    void SetRepaint(std::function<void()> repaint) { repaint_ = std::move(repaint); }
    void SetClock(quenlo::Clock& clock) { clock_ = &clock; }
    quenlo::Clock& clock() { return *clock_; }
    // The stop request: ends PlaySegment after the frame shown.
    void RequestStop() { stop_ = true; }
    void ClearStop() { stop_ = false; }
    bool stop_requested() const { return stop_; }
    // Held while poses or active tracks change and while the walk reads them.
    std::mutex& pose_mutex() { return pose_mutex_; }

  private:
    BoneList bones_;
    uint64_t model_generation_ = 0;
    quenlo::preview::PreviewReach reach_;
    std::vector<quenlo::preview::PreviewMatrix> walk_matrices_;
    std::function<void()> repaint_;
    quenlo::Clock* clock_;
    std::atomic<bool> stop_{false};
    std::mutex pose_mutex_;
};
