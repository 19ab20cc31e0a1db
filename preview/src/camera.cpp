// The preview's camera: trackball rotation about the model's centre, pan and
// zoom, the mouse handling that drives them, and the start view that frames
// the model's reach. The renderer loads the result into OpenGL.
#include <algorithm>
#include <cmath>

#include "preview.h"
#include "quenlo/platform.h"

namespace quenlo::preview {
namespace {

// The eye stands this many reach radii from the centre: a gentle perspective.
constexpr float kEyeDistance = 4.0f;

PreviewMatrix Translation(const PreviewVector& t) {
    PreviewMatrix m = kIdentityMatrix;
    m[12] = t[0], m[13] = t[1], m[14] = t[2];
    return m;
}

}  // namespace

PreviewCamera::PreviewCamera() {
    // One light from the viewer's side along the viewing axis.
    PreviewLight& light = view_.lights[0];
    light.enabled = true;
    for (int i = 0; i < 3; ++i) {
        light.ambient[static_cast<size_t>(i)] = 0.4f;
        light.diffuse[static_cast<size_t>(i)] = 1.0f;
        light.specular[static_cast<size_t>(i)] = 0.2f;
    }
}

// A new size keeps the framing: the zoom follows the panel's smaller side. A
// model framed before the panel had a size is framed again.
void PreviewCamera::SetViewSize(int32_t width, int32_t height) {
    const int32_t old_side = std::min(view_.width, view_.height);
    view_.width = width;
    view_.height = height;
    const int32_t side = std::min(width, height);
    if (old_side > 0 && side > 0)
        view_.zoom *= static_cast<float>(side) / static_cast<float>(old_side);
    else
        Reset();
}

void PreviewCamera::Frame(const PreviewReach& reach) {
    framed_ = reach;
    has_framed_ = true;
    Reset();
}

void PreviewCamera::Reset() {
    if (!has_framed_) return;
    // A model in one point, or none, is framed as the grid would be.
    float r = framed_.radius;
    if (!(r > 0.0f) || !std::isfinite(r)) r = 125.0f;
    view_.centre = framed_.centre;
    view_.distance = kEyeDistance * r;
    // The 250-unit grid on y = 0 is drawn too: its corners set the depth
    // range where they lie beyond the reach.
    float depth = r;
    for (const float x : {-125.0f, 125.0f})
        for (const float z : {-125.0f, 125.0f}) {
            const PreviewVector d{x - view_.centre[0], -view_.centre[1], z - view_.centre[2]};
            depth = std::max(depth, std::sqrt(Dot(d, d)));
        }
    view_.depth_reach = depth;
    // The sphere seen from `distance` away fills a circle of radius
    // f r / sqrt(d^2 - r^2) pixels, f being the pixels per unit at unit depth.
    const float side = static_cast<float>(std::max(std::min(view_.width, view_.height), 1));
    const float d = view_.distance;
    const float f = side / 2 * kReachFill * std::sqrt(d * d - r * r) / r;
    view_.zoom = f / d;
    view_.rotation = kIdentityMatrix;
    ApplyRotation(45.0f, 0.5f, 0.5f, 0.0f);
    view_.pan = {0, 0, 0};
}

PreviewMatrix PreviewCamera::ViewMatrix() const {
    const PreviewVector& c = view_.centre;
    const PreviewMatrix turned = Multiply(view_.rotation, Translation({-c[0], -c[1], -c[2]}));
    return Multiply(Translation({0, 0, -view_.distance}), turned);
}

PreviewFrustum PreviewCamera::Frustum() const {
    const double d = view_.distance, reach = view_.depth_reach * 1.01;
    // The near plane stays in front of the eye when the grid reaches behind it.
    const double near_plane = std::max(d - reach, d * 1e-3);
    const double far_plane = d + reach;
    const double per_pixel = near_plane / (double{view_.zoom} * d);
    const double w = view_.width / 2.0 * per_pixel, h = view_.height / 2.0 * per_pixel;
    // The pan shifts the window on the view, not the eye: every point moves
    // on screen as far as the mouse, whatever its depth.
    const double x = view_.pan[0] * near_plane / d, y = view_.pan[1] * near_plane / d;
    return {x - w, x + w, y - h, y + h, near_plane, far_plane};
}

std::array<float, 2> PreviewCamera::ToPanel(const PreviewVector& point) const {
    const PreviewVector e = TransformPoint(ViewMatrix(), point);
    const float scale = view_.zoom * view_.distance / -e[2];
    return {view_.width / 2.0f + scale * e[0] - view_.pan[0] * view_.zoom,
            view_.height / 2.0f - scale * e[1] + view_.pan[1] * view_.zoom};
}

PreviewVector PreviewCamera::TrackballVector(float x, float y, float w, float h) {
    const float px = (2.0f * x - w) / w * 0.5f;
    const float py = (h - 2.0f * y) / h * 0.5f;
    const float r = std::min(std::sqrt(px * px + py * py), 1.0f);
    const float pz = static_cast<float>(std::cos(r * 1.5707963267948966));
    return Normalised({px, py, pz});
}

// The new turn goes on the left of the kept rotation. Like glRotatef, the
// axis is normalised and a vanishing axis turns nothing.
void PreviewCamera::ApplyRotation(float angle, float x, float y, float z) {
    const PreviewVector axis{x, y, z};
    if (std::sqrt(Dot(axis, axis)) > 1.0e-4f)
        view_.rotation = Multiply(AxisRotation(Normalised(axis), angle), view_.rotation);
}

bool PreviewCamera::MouseMove(int32_t x, int32_t y) {
    switch (view_.mouse_mode) {
        case MouseMode::Rotate: {
            const PreviewVector v =
                TrackballVector(static_cast<float>(x), static_cast<float>(y),
                                static_cast<float>(view_.width), static_cast<float>(view_.height));
            const PreviewVector& p = view_.last_trackball;
            const PreviewVector diff{v[0] - p[0], v[1] - p[1], v[2] - p[2]};
            const float angle = std::sqrt(Dot(diff, diff)) * 180.0f;
            const PreviewVector axis = Cross(p, v);
            view_.last_trackball = v;
            view_.angle_sum += angle;
            quenlo::LogOut("rot r=%g x=%g y=%g z=%g\r\n", view_.angle_sum, axis[0], axis[1],
                           axis[2]);
            ApplyRotation(angle, axis[0], axis[1], axis[2]);
            return true;
        }
        case MouseMode::Pan:
            // The model moves with the mouse.
            view_.pan[0] -= static_cast<float>(x - view_.last_x) / view_.zoom;
            view_.pan[1] += static_cast<float>(y - view_.last_y) / view_.zoom;
            view_.last_x = x, view_.last_y = y;
            return true;
        case MouseMode::Zoom:
            view_.zoom = static_cast<float>(view_.zoom * std::pow(2.0, (view_.last_y - y) * 0.002));
            view_.last_y = y, view_.last_x = x;
            return true;
        case MouseMode::Idle:
            break;
    }
    return false;
}

void PreviewCamera::LeftButtonDown(int32_t x, int32_t y) {
    quenlo::LogOut("Left button ON\r\n");
    view_.mouse_mode = MouseMode::Rotate;
    view_.last_trackball =
        TrackballVector(static_cast<float>(x), static_cast<float>(y),
                        static_cast<float>(view_.width), static_cast<float>(view_.height));
}

void PreviewCamera::LeftButtonUp() {
    quenlo::LogOut("Left button OFF\r\n");
    view_.mouse_mode = MouseMode::Idle;
}

void PreviewCamera::RightButtonDown(int32_t x, int32_t y) {
    quenlo::LogOut("Right button ON\r\n");
    view_.mouse_mode = MouseMode::Pan;
    view_.last_x = x, view_.last_y = y;
}

void PreviewCamera::RightButtonUp() {
    quenlo::LogOut("Right button OFF\r\n");
    view_.mouse_mode = MouseMode::Idle;
}

// One notch (120) zooms by 2 to the 0.08: the move is taken as a drag of a
// third of the delta.
bool PreviewCamera::MouseWheel(int32_t x, int32_t y, int16_t delta) {
    view_.mouse_mode = MouseMode::Zoom;
    view_.last_x = x, view_.last_y = y;
    const int32_t q = delta / 3;
    const bool changed = MouseMove(x - q, y - q);
    view_.mouse_mode = MouseMode::Idle;
    return changed;
}

}  // namespace quenlo::preview
