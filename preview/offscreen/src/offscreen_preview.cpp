// Mesa's OSMesa context around the preview's renderer.
#include <GL/osmesa.h>

#include "preview_offscreen.h"

namespace quenlo::preview {

OffscreenPreview::OffscreenPreview() = default;

OffscreenPreview::~OffscreenPreview() {
    if (context_) OSMesaDestroyContext(static_cast<OSMesaContext>(context_));
}

bool OffscreenPreview::Create(int32_t width, int32_t height, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (context_) return fail("the off-screen context exists already");
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192)
        return fail("the image size must be 1 to 8192 pixels each way");
    context_ = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    if (!context_) return fail("no off-screen OpenGL context (OSMesa)");
    width_ = width, height_ = height;
    pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
    if (!MakeCurrent()) return fail("the off-screen OpenGL context cannot be made current");
    OSMesaPixelStore(OSMESA_Y_UP, 0);  // row 0 at the top, as images store it
    if (!renderer_.InitOpenGL(width, height)) return fail("OpenGL set-up failed");
    return true;
}

bool OffscreenPreview::MakeCurrent() {
    return context_ && OSMesaMakeCurrent(static_cast<OSMesaContext>(context_), pixels_.data(),
                                         GL_UNSIGNED_BYTE, width_, height_);
}

void OffscreenPreview::Render() {
    renderer_.Render();
}

std::array<uint8_t, 4> OffscreenPreview::Pixel(int32_t x, int32_t y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width_) + x) * 4;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2], pixels_[i + 3]};
}

}  // namespace quenlo::preview
