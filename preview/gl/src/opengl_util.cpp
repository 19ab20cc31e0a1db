// OpenGL 1.1 drawing of the preview: the camera's projection and view with
// the light, the ground grid, and each bone's faces compiled once into a
// display list.
#include <GL/gl.h>
#include <GL/glu.h>

#include <utility>

#include "preview_gl.h"

using namespace quenlo::preview;

bool COpenGLUtil::InitOpenGL(int32_t width, int32_t height) {
    if (!glGetString(GL_VERSION)) return false;
    lists_.assign(lists_.size(), 0);  // made in another context, if any
    glClearColor(0.8f, 0.8f, 0.8f, 1.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    Resize(width, height);
    return true;
}

void COpenGLUtil::Resize(int32_t width, int32_t height) {
    camera_.SetViewSize(width, height);
    glViewport(0, 0, width, height);
}

bool COpenGLUtil::ShowModel(const CDataInfo& data, float* size_out) {
    const bool built = scene_.CreateBacObject(size_out, data);
    ShowScene();
    return built;
}

bool COpenGLUtil::ShowModel(ModelCopy model) {
    const bool built = model.built;
    scene_.SetBacObject(std::move(model));
    ShowScene();
    return built;
}

void COpenGLUtil::ShowScene() {
    scene_.ResetPose();
    camera_.Frame(scene_.reach());
}

void COpenGLUtil::LoadCamera() {
    const PreviewFrustum f = camera_.Frustum();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(f.left, f.right, f.bottom, f.top, f.near_plane, f.far_plane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    SetLights();  // before the view: the light stays with the viewer
    glLoadMatrixf(camera_.ViewMatrix().data());
}

void COpenGLUtil::SetLights() {
    for (int i = 0; i < 4; ++i) {
        const PreviewLight& light = camera_.view().lights[static_cast<size_t>(i)];
        const GLenum id = static_cast<GLenum>(GL_LIGHT0 + i);
        if (!light.enabled) {
            glDisable(id);
            continue;
        }
        glEnable(id);
        glLightfv(id, GL_POSITION, light.position.data());
        glLightfv(id, GL_AMBIENT, light.ambient.data());
        glLightfv(id, GL_DIFFUSE, light.diffuse.data());
        glLightfv(id, GL_SPECULAR, light.specular.data());
    }
}

// The lists of a model that is gone are deleted in this context; a new
// model starts with none.
void COpenGLUtil::MatchDisplayLists() {
    if (lists_model_ == scene_.model_generation() && lists_.size() == scene_.bones().size()) return;
    for (uint32_t list : lists_)
        if (list) glDeleteLists(list, 1);
    lists_.assign(scene_.bones().size(), 0);
    lists_model_ = scene_.model_generation();
}

// The pose is copied under its lock; drawing and compiling go without it, so
// the preview thread never waits for OpenGL.
void COpenGLUtil::Render() {
    MatchDisplayLists();
    scene_.CopyPose(pose_);
    LoadCamera();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawGrid();
    const auto& bones = scene_.bones();
    for (size_t k = 0; k < bones.size() && k < pose_.size(); ++k)
        if (bones[k]) DrawBone(k, *bones[k], pose_[k]);
    glFinish();
}

void COpenGLUtil::DrawGrid() {
    glDisable(GL_LIGHTING);
    glColor3f(0, 0, 1);
    for (int i = 0; i <= 10; ++i) {
        const float a = static_cast<float>(25 * i - 125);
        glBegin(GL_LINES);
        glVertex3f(a, 0, -125);
        glVertex3f(a, 0, 125);
        glEnd();
    }
    for (int i = 0; i <= 10; ++i) {
        const float a = static_cast<float>(25 * i - 125);
        glBegin(GL_LINES);
        glVertex3f(-125, 0, a);
        glVertex3f(125, 0, a);
        glEnd();
    }
}

namespace {

bool SameMaterial(const PreviewFace& a, const PreviewFace& b) {
    return a.colour == b.colour && a.specular == b.specular && a.shininess == b.shininess;
}

// A face's colour and material, then its corners. The material is given again
// only where it differs from the face before: the state is the same, and the
// list replays faster.
void EmitFace(const PreviewFace& face, const PreviewFace* before) {
    if (!before || !SameMaterial(face, *before)) {
        const auto& c = face.colour;
        const GLfloat dim[4] = {0.2f * c[0], 0.2f * c[1], 0.2f * c[2], c[3]};
        const GLfloat specular[4] = {face.specular, face.specular, face.specular, 1.0f};
        glColor4fv(c.data());
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, dim);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, dim);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, face.shininess);
    }
    const int corners = face.is_quad ? 4 : 3;
    for (int k = 0; k < corners; ++k) {
        glNormal3fv(face.normals[static_cast<size_t>(k)].data());
        glVertex3fv(face.positions[static_cast<size_t>(k)].data());
    }
}

void CompileFaces(const PreviewBone& bone) {
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    glEnable(GL_COLOR_MATERIAL);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    for (const bool quads : {false, true}) {
        glBegin(quads ? GL_QUADS : GL_TRIANGLES);
        const PreviewFace* before = nullptr;
        for (const PreviewFace& f : bone.faces) {
            if (f.is_quad != quads) continue;
            EmitFace(f, before);
            before = &f;
        }
        glEnd();
    }
}

}  // namespace

void COpenGLUtil::DrawBone(size_t index, const PreviewBone& bone, const PreviewMatrix& in_force) {
    glPushMatrix();
    glMultMatrixf(in_force.data());
    glTranslated(-bone.position[0], -bone.position[1], -bone.position[2]);
    if (!bone.faces.empty()) {
        uint32_t& list = lists_[index];
        if (list == 0 && (list = glGenLists(1)) != 0) {
            glNewList(list, GL_COMPILE);
            CompileFaces(bone);
            glEndList();
        }
        if (list)
            glCallList(list);
        else
            CompileFaces(bone);  // no list name left: drawn directly
    }
    glPopMatrix();
}
