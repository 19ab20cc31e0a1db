// The two drop targets of the main window: the model field (CBacSel) and the
// motion list (CTraSel). Each turns a drop of files from a file manager into
// the list of paths, as bytes, in drop order, and hands it to the window.
#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QMimeData;

namespace quenlo::qt {

using DropHandler = std::function<void(const std::vector<std::string>& paths)>;

// Paths come in through a buffer of 100 bytes: a longer one is cut to 99.
inline constexpr size_t kDroppedPathLimit = 99;
std::vector<std::string> DroppedPaths(const QMimeData& data);

}  // namespace quenlo::qt

// Read-only, single line; its text is the model's path. QLineEdit's own drop
// handling takes text only, so the file drops are handled here.
class CBacSel : public QLineEdit {
  public:
    explicit CBacSel(QWidget* parent);
    void set_drop_handler(quenlo::qt::DropHandler handler) { on_drop_ = std::move(handler); }
    // The path as bytes; the text shows it decoded.
    void SetPath(const std::string& path);
    std::string Path() const;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    quenlo::qt::DropHandler on_drop_;
};

// Unsorted; each entry is one motion's path, in play order. The same path may
// stand more than once. Drag events reach a list through its viewport, whose
// events the view's handlers receive.
class CTraSel : public QListWidget {
  public:
    explicit CTraSel(QWidget* parent);
    void set_drop_handler(quenlo::qt::DropHandler handler) { on_drop_ = std::move(handler); }
    void AppendPath(const std::string& path);
    void InsertPath(int row, const std::string& path);
    std::string PathAt(int row) const;
    std::vector<std::string> Paths() const;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    quenlo::qt::DropHandler on_drop_;
};
