// OpenGL 1.1 drawing of the preview: projection, camera and light, the ground
// grid, and each bone's faces compiled once into a display list.
#include <GL/gl.h>
#include <GL/glu.h>

#include "preview_gl.h"

using namespace quenlo::preview;

bool COpenGLUtil::InitOpenGL(int32_t width, int32_t height) {
    if (!glGetString(GL_VERSION)) return false;
    ForgetDisplayLists();  // made in another context, if any
    glClearColor(0.8f, 0.8f, 0.8f, 1.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    SetViewSize(width, height);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    SetProjection();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    projection_changed_ = false;
    camera_changed_ = false;
    return SetCamera();
}

void COpenGLUtil::SetProjection() {
    const double w = view().width, h = view().height, z = view().zoom;
    glFrustum(-w / (2 * z), w / (2 * z), -h / (2 * z), h / (2 * z), 10, 1000);
}

bool COpenGLUtil::SetCamera() {
    const PreviewVector& pan = view().pan;
    gluLookAt(pan[0], pan[1], pan[2] + 1, pan[0], pan[1], pan[2], 0, 1, 0);
    glTranslatef(0, 0, -500);
    SetLights();  // before the rotation: the light stays with the viewer
    glMultMatrixf(view().rotation.data());
    return true;
}

void COpenGLUtil::SetLights() {
    for (int i = 0; i < 4; ++i) {
        const PreviewLight& light = view().lights[static_cast<size_t>(i)];
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

void COpenGLUtil::Render() {
    for (uint32_t list : retired_lists_) glDeleteLists(list, 1);
    retired_lists_.clear();
    // The camera is loaded again only when the view has changed.
    if (projection_changed_) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        SetProjection();
        glMatrixMode(GL_MODELVIEW);
        projection_changed_ = false;
    }
    if (camera_changed_) {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        SetCamera();
        camera_changed_ = false;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    DrawGrid();
    {
        std::lock_guard<std::mutex> lock(pose_mutex());
        WalkSkeleton([this](PreviewBone& bone, const PreviewMatrix& m) { DrawBone(bone, m); });
    }
    glPopMatrix();
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

void COpenGLUtil::DrawBone(PreviewBone& bone, const PreviewMatrix& in_force) {
    glPushMatrix();
    glMultMatrixf(in_force.data());
    glTranslated(-bone.position[0], -bone.position[1], -bone.position[2]);
    if (!bone.faces.empty()) {
        if (bone.display_list == 0 && (bone.display_list = glGenLists(1)) != 0) {
            glNewList(bone.display_list, GL_COMPILE);
            CompileFaces(bone);
            glEndList();
        }
        if (bone.display_list)
            glCallList(bone.display_list);
        else
            CompileFaces(bone);  // no list name left: drawn directly
    }
    glPopMatrix();
}
