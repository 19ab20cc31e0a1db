// The preview rendered with no display: Mesa's off-screen OpenGL hosts the
// same renderer the window uses, for quenlo-cli snapshot, tests and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "preview_gl.h"
#include "quenlo/platform.h"

namespace quenlo::preview {

class OffscreenPreview {
  public:
    OffscreenPreview();
    ~OffscreenPreview();
    OffscreenPreview(const OffscreenPreview&) = delete;
    OffscreenPreview& operator=(const OffscreenPreview&) = delete;

    // An RGBA context with a depth buffer, current on the calling thread, and
    // the renderer set up in it. False with the reason in *error.
    bool Create(int32_t width, int32_t height, std::string* error);
    // Makes the context current on the calling thread (one thread at a time).
    bool MakeCurrent();
    // Renders one frame; the pixels are then ready.
    void Render();

    COpenGLUtil& renderer() { return renderer_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // RGBA, 8 bits each, top row first.
    const std::vector<uint8_t>& pixels() const { return pixels_; }
    std::array<uint8_t, 4> Pixel(int32_t x, int32_t y) const;

  private:
    void* context_ = nullptr;
    int32_t width_ = 0, height_ = 0;
    std::vector<uint8_t> pixels_;
    COpenGLUtil renderer_;
};

// Writes RGBA pixels, top row first, as an 8-bit RGBA PNG, whole or not at
// all (quenlo::OutputFile). False with the reason in *error.
bool WritePng(OutputFile& file, int32_t width, int32_t height, const std::vector<uint8_t>& rgba,
              std::string* error);
bool WritePng(const std::string& path, int32_t width, int32_t height,
              const std::vector<uint8_t>& rgba, std::string* error);

}  // namespace quenlo::preview
