// The preview's renderer: draws a scene of preview.h through its camera with
// OpenGL 1.1 into whatever context the host has made current (the window's
// panel, or an off-screen buffer). The host owns the context; the renderer
// never switches it.
#pragma once

#include <cstdint>
#include <vector>

#include "preview.h"

class CDataInfo;

class COpenGLUtil {
  public:
    COpenGLUtil() = default;

    // Sets the GL state up in the current context for a panel of this size
    // (the mouse's pixels). A new context holds none of the display lists:
    // they are compiled again. False when no context is current.
    bool InitOpenGL(int32_t width, int32_t height);
    // The panel's new size; the framing follows it.
    void Resize(int32_t width, int32_t height);
    // Builds the scene of a conversion (figread still holds its model), poses
    // the first motion's first key and frames the model. size_out as for
    // CPreviewScene::CreateBacObject.
    bool ShowModel(const CDataInfo& data, float* size_out = nullptr);
    // The same with a model read before (CPreviewScene::ReadBacObject).
    bool ShowModel(quenlo::preview::ModelCopy model);
    // Draws the grid and the posed model. The host shows the buffer.
    void Render();

    CPreviewScene& scene() { return scene_; }
    quenlo::preview::PreviewCamera& camera() { return camera_; }
    const quenlo::preview::PreviewCamera& camera() const { return camera_; }

  private:
    void LoadCamera();
    void SetLights();
    void DrawGrid();
    void DrawBone(size_t index, const quenlo::preview::PreviewBone& bone,
                  const quenlo::preview::PreviewMatrix& in_force);
    void MatchDisplayLists();
    void ShowScene();  // the first pose, framed

    CPreviewScene scene_;
    quenlo::preview::PreviewCamera camera_;
    // One display list per bone of the scene's model of lists_model_ (0: not
    // compiled yet), in the current context.
    std::vector<uint32_t> lists_;
    uint64_t lists_model_ = 0;
    std::vector<quenlo::preview::PreviewMatrix> pose_;  // the frame's copy of the pose
};
