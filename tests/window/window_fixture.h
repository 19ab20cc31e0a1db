// The main window under test: a CQuenloDlg shown on the test's X display, its
// controls found by their "ctl<ID>" names, files dropped as a file manager
// drops them, and a wait that keeps the window's events turning.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drop_targets.h"
#include "quenlo/platform.h"
#include "quenlo_dlg.h"

namespace window_test {

inline const std::string kExamples = QUENLO_EXAMPLES_DIR;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dlg_ = std::make_unique<CQuenloDlg>(nullptr, [this] { return devices_; });
        dlg_->show();
        started_ = Console().size();
    }
    void TearDown() override { dlg_.reset(); }

    template <class Widget = QWidget>
    Widget* Ctl(int id) {
        auto* widget = dlg_->findChild<Widget*>(QString("ctl%1").arg(id));
        EXPECT_NE(widget, nullptr) << "no control " << id;
        return widget;
    }
    std::string Console() { return Ctl<QPlainTextEdit>(1000)->toPlainText().toStdString(); }
    // The console's text from `mark` on (the text before it set aside).
    std::string ConsoleSince(size_t mark) { return Console().substr(mark); }
    bool Enabled(int id) { return Ctl(id)->isEnabled(); }
    // A conversion is held and shown: Convert is off, Play on.
    bool Converted() { return !Enabled(1014) && Enabled(1015); }
    // A board is connected: the port list's first entry offers to close it.
    bool LinkOpen() { return Ctl<QComboBox>(1001)->itemText(0) == "切断"; }
    // The board's serial speed as its list shows it.
    std::string LinkSpeed() { return Ctl<QComboBox>(1005)->currentText().toStdString(); }

    // Drops local files and waits for the conversion they start, if any;
    // false when the target refused the drag.
    bool Drop(QWidget* target, const std::vector<std::string>& paths) {
        QList<QUrl> urls;
        for (const std::string& p : paths)
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
        QMimeData data;
        data.setUrls(urls);
        const QPointF at(5, 5);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return drop.isAccepted() && WaitForConversion();
    }
    bool DropBac(const std::vector<std::string>& paths) { return Drop(Ctl(1008), paths); }
    bool DropTra(const std::vector<std::string>& paths) {
        return Drop(Ctl<CTraSel>(1010)->viewport(), paths);
    }

    // Serves the window's events until done() holds or ten seconds pass.
    static bool WaitFor(const std::function<bool()>& done, int timeout_ms = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeout_ms) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    // Answers the next question box with `button` once it shows; its text and
    // its buttons' captions go to `seen` when given.
    static void AnswerNextQuestion(QMessageBox::StandardButton button,
                                   std::vector<std::string>* seen = nullptr) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, button, seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll->stop();  // deleted only once an event loop turns again
            poll->deleteLater();
            if (seen) {
                seen->push_back(box->text().toStdString());
                for (QAbstractButton* b : box->buttons()) seen->push_back(b->text().toStdString());
            }
            box->button(button)->click();
        });
        poll->start(20);
    }
    // Answers the next file dialog with `files` of one folder (all selected),
    // or cancels it when there are none.
    static void AnswerNextFileDialog(std::vector<std::string> files) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, files] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll->stop();  // deleted only once an event loop turns again
            poll->deleteLater();
            if (files.empty()) return dialog->reject();
            QString names;
            for (const std::string& file : files) {
                const QFileInfo info(QString::fromStdString(file));
                dialog->setDirectory(info.absolutePath());
                names += "\"" + info.fileName() + "\" ";
            }
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(names.trimmed());
            QMetaObject::invokeMethod(dialog, "accept");  // as its Open button does
        });
        poll->start(20);
    }
    // Opens `target`'s context menu at `at` and triggers the item `text`;
    // answers the items' texts, each with "-" before it when disabled.
    static std::vector<std::string> ChooseFromContextMenu(QWidget* target, QPoint at,
                                                          const std::string& text) {
        std::vector<std::string> items;
        QTimer::singleShot(100, [&items, text] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator()) continue;
                const std::string item = action->text().toStdString();
                items.push_back((action->isEnabled() ? "" : "-") + item);
                if (item == text) chosen = action;
            }
            menu->close();
            if (chosen) chosen->trigger();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &event);
        return items;
    }

    // The conversion asked for has run and the window has taken its result.
    bool WaitForConversion() {
        return WaitFor([this] { return !dlg_->ConversionRunning(); }, 60000);
    }

    // Link work started from the window has ended and the window has taken
    // its outcome: the port list is on again.
    bool WaitForLink(int timeout_ms = 30000) {
        return WaitFor([this] { return !dlg_->LinkWorkRunning() && Enabled(1001); }, timeout_ms);
    }

    std::vector<quenlo::SerialDevice> devices_;  // what the port list finds
    std::unique_ptr<CQuenloDlg> dlg_;
    size_t started_ = 0;  // the console's length once the window is set up
};

}  // namespace window_test
