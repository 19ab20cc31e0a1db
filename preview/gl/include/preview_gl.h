// The preview's renderer: draws the scene of preview.h with OpenGL 1.1 and GLU
// into whatever context the host has made current (the window's panel, or an
// off-screen buffer). The host owns the context; the renderer never switches it.
#pragma once

#include <cstdint>

#include "preview.h"

class COpenGLUtil : public CPreviewScene {
  public:
    COpenGLUtil() = default;

    // Sets the GL state up in the current context for a panel of this size
    // (the mouse's pixels). False when no context is current.
    bool InitOpenGL(int32_t width, int32_t height);
    // Draws the grid and the posed model. The host shows the buffer.
    void Render();

  private:
    void SetProjection();
    bool SetCamera();
    void SetLights();
    void DrawGrid();
    void DrawBone(quenlo::preview::PreviewBone& bone,
                  const quenlo::preview::PreviewMatrix& in_force);
};
