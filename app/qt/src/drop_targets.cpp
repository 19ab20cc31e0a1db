#include "drop_targets.h"

#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace quenlo::qt {
namespace {

bool HasFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

}  // namespace

std::vector<std::string> DroppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) paths.push_back(ChosenPath(url.toLocalFile()));
    }
    return paths;
}

std::string ChosenPath(const QString& file) {
    const QByteArray bytes = QFile::encodeName(file);
    std::string path(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (path.size() > kDroppedPathLimit) path.resize(kDroppedPathLimit);
    return path;
}

void AcceptFileDrag(QDropEvent* event) {
    if (HasFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TakeFileDrop(QDropEvent* event, const DropHandler& handler) {
    if (!HasFiles(event->mimeData()) || !handler) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    handler(DroppedPaths(*event->mimeData()));
}

}  // namespace quenlo::qt

namespace {

constexpr int kPathRole = Qt::UserRole;

QByteArray ToBytes(const std::string& path) {
    return QByteArray(path.data(), static_cast<qsizetype>(path.size()));
}

std::string FromBytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

CBacSel::CBacSel(QWidget* parent) : FileDropTarget(parent) {
    setReadOnly(true);
}

void CBacSel::SetPath(const std::string& path) {
    setText(QFile::decodeName(ToBytes(path)));
    setProperty("path", ToBytes(path));
}

void CBacSel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (on_open_ && isEnabled()) {
        event->accept();
        on_open_();
        return;
    }
    FileDropTarget::mouseDoubleClickEvent(event);
}

std::string CBacSel::Path() const {
    return FromBytes(property("path").toByteArray());
}

CTraSel::CTraSel(QWidget* parent) : FileDropTarget(parent) {
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void CTraSel::AppendPath(const std::string& path) {
    InsertPath(count(), path);
}

void CTraSel::InsertPath(int row, const std::string& path) {
    auto* item = new QListWidgetItem(QFile::decodeName(ToBytes(path)));
    item->setData(kPathRole, ToBytes(path));
    insertItem(row, item);
}

std::string CTraSel::PathAt(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? FromBytes(entry->data(kPathRole).toByteArray()) : std::string();
}

std::vector<std::string> CTraSel::Paths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < count(); ++i) paths.push_back(PathAt(i));
    return paths;
}
