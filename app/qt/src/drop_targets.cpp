#include "drop_targets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace quenlo::qt {
namespace {

bool HasFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

QString Shown(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// Accepts what carries files; a drop reaches only a widget that accepted its
// drag-enter.
template <class Event>
void AcceptFiles(Event* event) {
    if (HasFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

template <class Handler>
void HandleDrop(QDropEvent* event, const Handler& handler) {
    if (!HasFiles(event->mimeData()) || !handler) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    handler(DroppedPaths(*event->mimeData()));
}

}  // namespace

std::vector<std::string> DroppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) continue;
        const QByteArray bytes = QFile::encodeName(url.toLocalFile());
        std::string path(bytes.constData(), static_cast<size_t>(bytes.size()));
        if (path.size() > kDroppedPathLimit) path.resize(kDroppedPathLimit);
        paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace quenlo::qt

using quenlo::qt::AcceptFiles;
using quenlo::qt::HandleDrop;
using quenlo::qt::Shown;

namespace {
constexpr int kPathRole = Qt::UserRole;
}

CBacSel::CBacSel(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setAcceptDrops(true);
}

void CBacSel::SetPath(const std::string& path) {
    setText(Shown(path));
    setProperty("path", QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string CBacSel::Path() const {
    const QByteArray bytes = property("path").toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void CBacSel::dragEnterEvent(QDragEnterEvent* event) {
    AcceptFiles(event);
}
void CBacSel::dragMoveEvent(QDragMoveEvent* event) {
    AcceptFiles(event);
}
void CBacSel::dropEvent(QDropEvent* event) {
    HandleDrop(event, on_drop_);
}

CTraSel::CTraSel(QWidget* parent) : QListWidget(parent) {
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void CTraSel::AppendPath(const std::string& path) {
    InsertPath(count(), path);
}

void CTraSel::InsertPath(int row, const std::string& path) {
    auto* item = new QListWidgetItem(Shown(path));
    item->setData(kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    insertItem(row, item);
}

std::string CTraSel::PathAt(int row) const {
    const QListWidgetItem* entry = item(row);
    if (!entry) return {};
    const QByteArray bytes = entry->data(kPathRole).toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::vector<std::string> CTraSel::Paths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < count(); ++i) paths.push_back(PathAt(i));
    return paths;
}

void CTraSel::dragEnterEvent(QDragEnterEvent* event) {
    AcceptFiles(event);
}
void CTraSel::dragMoveEvent(QDragMoveEvent* event) {
    AcceptFiles(event);
}
void CTraSel::dropEvent(QDropEvent* event) {
    HandleDrop(event, on_drop_);
}
