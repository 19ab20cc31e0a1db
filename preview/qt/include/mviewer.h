// CMviewer: the preview panel of the main window. It hosts the renderer in a
// QOpenGLWidget, turns mouse input into camera moves, and paints on request
// from the preview thread, which waits until the frame is painted.
//
// The mouse: a left drag turns the model about its centre, a right drag moves
// it, the wheel zooms; a right click without a drag (released within the
// drag distance) opens the window's context menu; a double click or Home
// goes back to the start view.
#pragma once

#include <QOpenGLWidget>
#include <QPoint>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class COpenGLUtil;

class CMviewer : public QOpenGLWidget {
    Q_OBJECT

  public:
    // The drawing is OpenGL 1.1 with GLU: the program asks for a 2.1
    // compatibility context for every window. Call before the application
    // object exists; a core profile would draw nothing.
    static void RequestCompatibilityContext();

    CMviewer(QWidget* parent, COpenGLUtil* renderer);
    ~CMviewer() override;

    // False once OpenGL could not be set up: the window runs without a preview.
    bool ready() const { return ready_; }
    // The renderer goes away with the window; nothing is drawn afterwards.
    void DetachRenderer();

    // From the preview thread: paints the current poses and returns once the
    // frame has been painted (at once when the panel is not shown, or after a
    // second when no paint comes). False once waiting has been stopped.
    bool RepaintAndWait();
    // Releases a waiting thread for good: the window is closing.
    void StopWaiting();
    // Frames painted so far.
    uint64_t frames_painted() const { return frames_painted_; }
    // Frames the preview thread has asked for so far.
    uint64_t frames_requested() {
        const std::lock_guard<std::mutex> lock(frame_mutex_);
        return requested_;
    }

  protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int width, int height) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void FrameRequested(uint64_t request);
    void FramePainted();

    void ResetView();

    COpenGLUtil* renderer_;
    std::atomic<bool> ready_{true};  // read by the preview and conversion threads
    // The right button: where it went down, and whether it has moved beyond
    // the drag distance since (then it pans, and no menu opens).
    bool right_down_ = false;
    bool right_dragging_ = false;
    QPoint right_pressed_at_;
    bool menu_on_release_ = false;  // the context menu event we send ourselves
    std::mutex frame_mutex_;
    std::condition_variable frame_painted_;
    uint64_t requested_ = 0;  // repaint requests of the preview thread
    uint64_t pending_ = 0;    // the latest the window's thread has taken
    uint64_t painted_ = 0;    // the latest a painted frame shows
    bool stopped_ = false;
    std::atomic<uint64_t> frames_painted_{0};
};
