// The two drop targets of the main window: the model field (CBacSel) and the
// motion list (CTraSel). Each turns a drop of files from a file manager into
// the list of paths, as bytes, in drop order, and hands it to the window.
#pragma once

#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <functional>
#include <string>
#include <vector>

class QMimeData;

namespace quenlo::qt {

using DropHandler = std::function<void(const std::vector<std::string>& paths)>;

// Paths come in through a buffer of 100 bytes: a longer one is cut to 99.
inline constexpr size_t kDroppedPathLimit = 99;
std::vector<std::string> DroppedPaths(const QMimeData& data);
// A file chosen in a file dialog, as a drop would bring it.
std::string ChosenPath(const QString& file);

// Accepts a drag that carries files: a drop reaches only a widget that accepted
// its drag-enter.
void AcceptFileDrag(QDropEvent* event);
// Hands the dropped files' paths to the handler.
void TakeFileDrop(QDropEvent* event, const DropHandler& handler);

// A widget that takes files dropped on it. Widgets' own drop handling takes
// text only, so the file drops are handled here.
template <class Widget>
class FileDropTarget : public Widget {
  public:
    explicit FileDropTarget(QWidget* parent) : Widget(parent) { this->setAcceptDrops(true); }
    void set_drop_handler(DropHandler handler) { on_drop_ = std::move(handler); }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override { AcceptFileDrag(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { AcceptFileDrag(event); }
    void dropEvent(QDropEvent* event) override { TakeFileDrop(event, on_drop_); }

  private:
    DropHandler on_drop_;
};

}  // namespace quenlo::qt

// Read-only, single line; its text is the model's path. A double click asks
// for a model file (the open handler).
class CBacSel : public quenlo::qt::FileDropTarget<QLineEdit> {
  public:
    explicit CBacSel(QWidget* parent);
    // The path as bytes; the text shows it decoded.
    void SetPath(const std::string& path);
    std::string Path() const;
    void set_open_handler(std::function<void()> handler) { on_open_ = std::move(handler); }

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    std::function<void()> on_open_;
};

// Unsorted; each entry is one motion's path, in play order. The same path may
// stand more than once. Drag events reach a list through its viewport, whose
// events the view's handlers receive.
class CTraSel : public quenlo::qt::FileDropTarget<QListWidget> {
  public:
    explicit CTraSel(QWidget* parent);
    void AppendPath(const std::string& path);
    void InsertPath(int row, const std::string& path);
    std::string PathAt(int row) const;
    std::vector<std::string> Paths() const;
};
