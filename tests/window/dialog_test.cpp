// The window itself: its controls as the table has them, the console, the
// About box.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <csignal>

#include "close_signals.h"
#include "quenlo/version.h"
#include "window_fixture.h"

namespace window_test {
namespace {

std::vector<std::string> Entries(QComboBox* list) {
    std::vector<std::string> entries;
    for (int i = 0; i < list->count(); ++i) entries.push_back(list->itemText(i).toStdString());
    return entries;
}

TEST_F(WindowTest, StartsWithTheControlsOfTheTable) {
    EXPECT_EQ(dlg_->windowTitle(), "Quenlo");
    EXPECT_EQ(dlg_->minimumSize(), dlg_->maximumSize()) << "fixed size";

    const std::pair<int, const char*> captions[] = {
        {1003, "ROM転送"}, {1004, "ｺﾝｿｰﾙｸﾘｱ"}, {1011, "↑"},
        {1012, "↓"},       {1013, "削除"},     {1014, "変換"},
        {1015, "再生"},    {1017, "全再生"},   {1021, "ループ再生"}};
    for (const auto& [id, caption] : captions)
        EXPECT_EQ(Ctl<QAbstractButton>(id)->text().toStdString(), caption) << id;
    for (int id : {1000, 1008, 1010, 1023}) Ctl(id);

    EXPECT_EQ(Entries(Ctl<QComboBox>(1001)), std::vector<std::string>{"非接続"});
    const std::vector<std::string> speeds{"115.2k", "625k", "1.25M"};
    for (int id : {1005, 1006}) {
        EXPECT_EQ(Entries(Ctl<QComboBox>(id)), speeds);
        EXPECT_EQ(Ctl<QComboBox>(id)->currentIndex(), 0);
        EXPECT_FALSE(Enabled(id));
    }
    EXPECT_EQ(Entries(Ctl<QComboBox>(1007)),
              (std::vector<std::string>{"10", "15", "20", "25", "30", "40", "45", "50", "60"}));
    EXPECT_EQ(Ctl<QComboBox>(1007)->currentText(), "25");
    EXPECT_EQ(Entries(Ctl<QComboBox>(1019)),
              (std::vector<std::string>{"なし", "100ms", "500ms", "1秒", "2秒"}));
    EXPECT_EQ(Ctl<QComboBox>(1019)->currentText(), "1秒");

    // Nothing converted yet: nothing to play or to write.
    for (int id : {1003, 1014, 1015, 1017}) EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {1001, 1007, 1008, 1010, 1011, 1012, 1013, 1019}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Ctl<QCheckBox>(1021)->isChecked());
    for (QWidget* control : dlg_->findChildren<QWidget*>(QRegularExpression("^ctl\\d+$")))
        EXPECT_FALSE(control->toolTip().isEmpty()) << control->objectName().toStdString();
    EXPECT_EQ(Console(), "setup\nOpenGL setup\n");
}

// The console takes text at its selection, shows every line also on standard
// output, answers the speed and transition lists, and Enter clears it.
TEST_F(WindowTest, ConsoleLinesListAnswersAndEnter) {
    quenlo::LogCapture out;
    Ctl<QComboBox>(1019)->setCurrentIndex(0);
    Ctl<QComboBox>(1005)->setCurrentIndex(1);
    dlg_->ui().ConsolePrint("%s", std::string(600, 'x').c_str());
    const std::string pane = Console();
    EXPECT_NE(pane.find("遷移間隔変更\n未対応ですよ\n" + std::string(499, 'x')), std::string::npos);
    EXPECT_EQ(pane.find(std::string(500, 'x')), std::string::npos) << "cut to 499";
    EXPECT_EQ(out.out(), "遷移間隔変更\r\n未対応ですよ\r\n" + std::string(499, 'x'));

    QTest::keyClick(dlg_.get(), Qt::Key_Return);
    EXPECT_EQ(Console(), "");
    dlg_->ui().ConsolePrint("a\r\n");
    Ctl(1000)->setFocus();
    QTest::keyClick(Ctl(1000), Qt::Key_Enter);
    EXPECT_EQ(Console(), "");
}

// Qt's own texts are Japanese, as the window's are.
TEST_F(WindowTest, QuestionsAnswerYesOrNoInJapanese) {
    std::vector<std::string> seen;
    AnswerNextQuestion(QMessageBox::No, &seen);
    EXPECT_FALSE(dlg_->ui().Confirm("確認", "ROMへ転送しますか？"));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "ROMへ転送しますか？");
    std::sort(seen.begin() + 1, seen.end());
    EXPECT_EQ(seen[1].rfind("いいえ", 0), 0u) << seen[1];
    EXPECT_EQ(seen[2].rfind("はい", 0), 0u) << seen[2];
}

// Ctrl-C and kill reach the window as its close request; nothing else
// happens in the handler, so an idle window closes at once.
TEST_F(WindowTest, SignalsAskTheWindowToClose) {
    for (int signal : {SIGINT, SIGTERM}) {
        std::vector<int> seen;
        const quenlo::qt::CloseSignals on_signals([&](int number) {
            seen.push_back(number);
            dlg_->close();
        });
        ASSERT_TRUE(on_signals.installed());
        ASSERT_EQ(std::raise(signal), 0);
        ASSERT_TRUE(WaitFor([&] { return !seen.empty(); }));
        EXPECT_EQ(seen, std::vector<int>{signal});
        EXPECT_FALSE(dlg_->isVisible());
        dlg_.reset();  // one window at a time captures standard error
        dlg_ = std::make_unique<CQuenloDlg>(nullptr, [this] { return devices_; });
        dlg_->show();
    }
}

// F1 and the window's context menu both open the About box.
TEST_F(WindowTest, AboutBoxFromF1AndTheContextMenu) {
    std::vector<std::string> seen;
    auto close_about = [&seen] {
        QWidget* about = QApplication::activeModalWidget();
        if (!about) return;
        seen.push_back(about->windowTitle().toStdString());
        auto* line = about->findChild<QLabel*>("ctl1020");
        if (line) seen.push_back(line->text().toStdString());
        about->close();
    };
    dlg_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
    QTimer::singleShot(200, close_about);
    QTest::keyClick(dlg_.get(), Qt::Key_F1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "バージョン情報 Quenlo");
    EXPECT_EQ(seen[1], std::string("Quenlo Version ") + QUENLO_VERSION + " (" + QUENLO_DATE + ")");

    // The menu opens on a right click on the window; its item opens the box.
    QTimer::singleShot(200, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text().toStdString(), "バージョン情報 Quenlo(&A)...");
        QTimer::singleShot(200, close_about);
        menu->actions()[0]->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                            dlg_->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(dlg_.get(), &event);
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
}  // namespace window_test
