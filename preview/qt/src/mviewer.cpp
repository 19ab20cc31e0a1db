// The preview panel: the renderer in a QOpenGLWidget, the mouse, and the
// synchronous repaint the preview thread asks for.
#include "mviewer.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWheelEvent>
#include <chrono>

#include "preview_gl.h"
#include "quenlo/platform.h"

void CMviewer::RequestCompatibilityContext() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
}

CMviewer::CMviewer(QWidget* parent, COpenGLUtil* renderer)
    : QOpenGLWidget(parent), renderer_(renderer) {
    setFocusPolicy(Qt::ClickFocus);
}

CMviewer::~CMviewer() {
    StopWaiting();
}

void CMviewer::DetachRenderer() {
    StopWaiting();
    // Display lists go with the context; nothing of the renderer is used after.
    renderer_ = nullptr;
}

void CMviewer::initializeGL() {
    const QOpenGLContext* gl = context();
    if (!renderer_ || !gl || !gl->isValid() || gl->isOpenGLES() ||
        !renderer_->InitOpenGL(width(), height())) {
        quenlo::LogErr("OpenGL Init SetupPixelFormat failed");
        ready_ = false;
        return;
    }
    // OpenGL 1.1 drawing does nothing in a core profile.
    if (gl->format().profile() == QSurfaceFormat::CoreProfile) {
        quenlo::LogErr("OpenGL: only a core profile context; the preview stays empty\n");
        ready_ = false;
    }
}

void CMviewer::paintGL() {
    if (ready_ && renderer_) renderer_->Render();
    ++frames_painted_;
    FramePainted();
}

// ---- The preview thread's repaint ---------------------------------------------

bool CMviewer::RepaintAndWait() {
    std::unique_lock<std::mutex> lock(frame_mutex_);
    if (stopped_) return false;
    const uint64_t request = ++requested_;
    QMetaObject::invokeMethod(
        this, [this, request] { FrameRequested(request); }, Qt::QueuedConnection);
    frame_painted_.wait_for(lock, std::chrono::seconds(1),
                            [&] { return painted_ >= request || stopped_; });
    return !stopped_;
}

void CMviewer::FrameRequested(uint64_t request) {
    {
        std::lock_guard<std::mutex> lock(frame_mutex_);
        pending_ = request;
        // A panel that is not shown paints nothing: the frame counts as shown.
        if (!isVisible() || !ready_) {
            painted_ = pending_;
            frame_painted_.notify_all();
            return;
        }
    }
    update();
}

void CMviewer::FramePainted() {
    std::lock_guard<std::mutex> lock(frame_mutex_);
    painted_ = pending_;
    frame_painted_.notify_all();
}

void CMviewer::StopWaiting() {
    std::lock_guard<std::mutex> lock(frame_mutex_);
    stopped_ = true;
    frame_painted_.notify_all();
}

// ---- Mouse and keys ---------------------------------------------------------

void CMviewer::resizeGL(int width, int height) {
    if (ready_ && renderer_) renderer_->Resize(width, height);
}

void CMviewer::ResetView() {
    if (!renderer_) return;
    renderer_->camera().Reset();
    update();
}

void CMviewer::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (renderer_ && event->button() == Qt::LeftButton)
        renderer_->camera().LeftButtonDown(p.x(), p.y());
    if (event->button() == Qt::RightButton) {
        // Panning starts once the mouse has moved beyond the drag distance.
        right_down_ = true;
        right_dragging_ = false;
        right_pressed_at_ = p;
    }
    setFocus(Qt::MouseFocusReason);  // for Home
    QOpenGLWidget::mousePressEvent(event);
}

void CMviewer::mouseReleaseEvent(QMouseEvent* event) {
    if (renderer_ && event->button() == Qt::LeftButton) renderer_->camera().LeftButtonUp();
    if (event->button() == Qt::RightButton && right_down_) {
        right_down_ = false;
        if (right_dragging_) {
            if (renderer_) renderer_->camera().RightButtonUp();
        } else {
            // A click: the window's context menu, which the parent shows.
            QContextMenuEvent menu(QContextMenuEvent::Mouse, event->position().toPoint(),
                                   event->globalPosition().toPoint(), event->modifiers());
            menu_on_release_ = true;
            QCoreApplication::sendEvent(this, &menu);
            menu_on_release_ = false;
        }
        right_dragging_ = false;
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void CMviewer::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (right_down_ && !right_dragging_ &&
        (p - right_pressed_at_).manhattanLength() >= QApplication::startDragDistance()) {
        right_dragging_ = true;
        if (renderer_)
            renderer_->camera().RightButtonDown(right_pressed_at_.x(), right_pressed_at_.y());
    }
    if (renderer_ && renderer_->camera().MouseMove(p.x(), p.y())) update();
    QOpenGLWidget::mouseMoveEvent(event);
}

void CMviewer::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) ResetView();
    QOpenGLWidget::mouseDoubleClickEvent(event);
}

void CMviewer::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    const auto delta = static_cast<int16_t>(event->angleDelta().y());
    if (renderer_ && renderer_->camera().MouseWheel(p.x(), p.y(), delta)) update();
    QOpenGLWidget::wheelEvent(event);
}

void CMviewer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home && event->modifiers() == Qt::NoModifier) {
        ResetView();
        return;
    }
    QOpenGLWidget::keyPressEvent(event);
}

// The menu a right press would open (X11 asks for it on the press) waits for
// the release, so that a right drag pans; the keyboard's menu key still opens
// it. Ignored events go on to the window, which shows the menu.
void CMviewer::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse && !menu_on_release_)
        event->accept();
    else
        event->ignore();
}
