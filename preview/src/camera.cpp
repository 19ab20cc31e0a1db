// The preview's camera: trackball rotation, pan and zoom, and the mouse
// handling that drives them. The renderer loads the result into OpenGL.
#include <algorithm>
#include <cmath>

#include "preview.h"
#include "quenlo/platform.h"

using namespace quenlo::preview;

CPreviewScene::CPreviewScene() : clock_(&quenlo::SystemClock()) {
    // One light from the viewer's side along the viewing axis.
    PreviewLight& light = view_.lights[0];
    light.enabled = true;
    for (int i = 0; i < 3; ++i) {
        light.ambient[static_cast<size_t>(i)] = 0.4f;
        light.diffuse[static_cast<size_t>(i)] = 1.0f;
        light.specular[static_cast<size_t>(i)] = 0.2f;
    }
}

CPreviewScene::~CPreviewScene() = default;

void CPreviewScene::SetViewSize(int32_t width, int32_t height) {
    view_.width = width;
    view_.height = height;
    projection_changed_ = true;
}

void CPreviewScene::ResetView(float size) {
    view_.zoom = (250.0f / size) * 50.0f;
    view_.rotation = kIdentityMatrix;
    ApplyRotation(45.0f, 0.5f, 0.5f, 0.0f);
    view_.pan = {0, 0, 0};
    projection_changed_ = camera_changed_ = true;
    ResetPose();
}

PreviewVector CPreviewScene::TrackballVector(float x, float y, float w, float h) {
    const float px = (2.0f * x - w) / w * 0.5f;
    const float py = (h - 2.0f * y) / h * 0.5f;
    const float r = std::min(std::sqrt(px * px + py * py), 1.0f);
    const float pz = static_cast<float>(std::cos(r * 1.5707963267948966));
    return Normalised({px, py, pz});
}

// The new turn goes on the left of the kept rotation. Like glRotatef, the
// axis is normalised and a vanishing axis turns nothing.
void CPreviewScene::ApplyRotation(float angle, float x, float y, float z) {
    const PreviewVector axis{x, y, z};
    if (std::sqrt(Dot(axis, axis)) > 1.0e-4f)
        view_.rotation = Multiply(AxisRotation(Normalised(axis), angle), view_.rotation);
    camera_changed_ = true;
}

bool CPreviewScene::MouseMove(int32_t x, int32_t y) {
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
            view_.pan[0] -= static_cast<float>(x - view_.last_x) / view_.zoom;
            view_.pan[1] += static_cast<float>(y - view_.last_y) / view_.zoom;
            view_.last_x = x, view_.last_y = y;
            camera_changed_ = true;
            return true;
        case MouseMode::Zoom:
            view_.zoom = static_cast<float>(view_.zoom * std::pow(2.0, (view_.last_y - y) * 0.002));
            view_.last_y = y, view_.last_x = x;
            projection_changed_ = true;
            return true;
        case MouseMode::Idle:
            break;
    }
    return false;
}

void CPreviewScene::LeftButtonDown(int32_t x, int32_t y) {
    quenlo::LogOut("Left button ON\r\n");
    view_.mouse_mode = MouseMode::Rotate;
    view_.last_trackball =
        TrackballVector(static_cast<float>(x), static_cast<float>(y),
                        static_cast<float>(view_.width), static_cast<float>(view_.height));
}

void CPreviewScene::LeftButtonUp() {
    quenlo::LogOut("Left button OFF\r\n");
    view_.mouse_mode = MouseMode::Idle;
}

void CPreviewScene::RightButtonDown(int32_t x, int32_t y) {
    quenlo::LogOut("Right button ON\r\n");
    view_.mouse_mode = MouseMode::Pan;
    view_.last_x = x, view_.last_y = y;
}

void CPreviewScene::RightButtonUp() {
    quenlo::LogOut("Right button OFF\r\n");
    view_.mouse_mode = MouseMode::Idle;
}

// One notch (120) zooms by 2 to the 0.08: the move is taken as a drag of a
// third of the delta.
bool CPreviewScene::MouseWheel(int32_t x, int32_t y, int16_t delta) {
    view_.mouse_mode = MouseMode::Zoom;
    view_.last_x = x, view_.last_y = y;
    const int32_t q = delta / 3;
    const bool changed = MouseMove(x - q, y - q);
    view_.mouse_mode = MouseMode::Idle;
    return changed;
}
