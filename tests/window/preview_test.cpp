// The preview panel in the window: the grid before any model, the robot after
// a conversion, the mouse's camera, and the repaint a preview thread waits for.
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>
#include <thread>

#include "conversion.h"
#include "mviewer.h"
#include "preview_gl.h"
#include "sim_process.h"
#include "test_files.h"
#include "window_fixture.h"

namespace window_test {
namespace {

class PreviewPanel : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        viewer_ = dlg_->findChild<CMviewer*>("preview");
        ASSERT_NE(viewer_, nullptr);
        ASSERT_TRUE(WaitFor([&] { return viewer_->isValid(); })) << "no OpenGL context";
        ASSERT_TRUE(viewer_->ready());
    }
    // Pixels other than the grey background and the blue grid.
    static int ModelPixels(const QImage& image, int* blue = nullptr) {
        int model = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c == QColor(204, 204, 204)) continue;
                if (c.blue() > 100 && c.red() < 100 && c.green() < 100) {
                    if (blue) ++*blue;
                } else {
                    ++model;
                }
            }
        return model;
    }
    void Mouse(QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent e(type, at, viewer_->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(viewer_, &e);
    }
    // Left and right edges of the model's pixels.
    static std::pair<int, int> ModelColumns(const QImage& image) {
        int left = image.width(), right = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c == QColor(204, 204, 204) ||
                    (c.blue() > 100 && c.red() < 100 && c.green() < 100))
                    continue;
                left = std::min(left, x), right = std::max(right, x);
            }
        return {left, right};
    }
    CMviewer* viewer_ = nullptr;
};

TEST_F(PreviewPanel, ShowsTheGridThenTheRobotAndTurnsWithTheMouse) {
    int blue = 0;
    EXPECT_EQ(ModelPixels(viewer_->grabFramebuffer(), &blue), 0);
    EXPECT_GT(blue, 0);

    ASSERT_TRUE(DropBac({kExamples + "/robot.bac"}));
    ASSERT_TRUE(DropTra({kExamples + "/wave.tra"}));
    ASSERT_TRUE(Converted());
    const QImage robot = viewer_->grabFramebuffer();
    EXPECT_GT(ModelPixels(robot), 2000);

    // A drag with the left button turns the model; the log tells it.
    quenlo::LogCapture log;
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, {100, 200});
    Mouse(QEvent::MouseMove, Qt::LeftButton, {160, 200});
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, {160, 200});
    EXPECT_EQ(log.out().rfind("Left button ON\r\nrot r=", 0), 0u) << log.out();
    EXPECT_TRUE(log.out().ends_with("Left button OFF\r\n"));
    EXPECT_NE(viewer_->grabFramebuffer(), robot);

    // A new model empties the preview; this one does not convert.
    ASSERT_TRUE(DropBac({kExamples + "/missing.bac"}));
    EXPECT_FALSE(Enabled(1015)) << "nothing to play";
    EXPECT_TRUE(dlg_->renderer()->scene().bones().empty());
    EXPECT_EQ(ModelPixels(viewer_->grabFramebuffer()), 0);
}

// Mouse input as the window system delivers it (the press of a right click
// asks for the context menu on X11): a right click opens the window's menu on
// its release, a right drag pans without it, a left drag turns, and a double
// click or Home brings the start view back.
TEST_F(PreviewPanel, RightClickMenuRightDragPanDoubleClickAndHomeReset) {
    ASSERT_TRUE(DropBac({kExamples + "/robot.bac"}));
    ASSERT_TRUE(DropTra({kExamples + "/wave.tra"}));
    ASSERT_TRUE(Converted());
    const QImage start = viewer_->grabFramebuffer();
    const QPoint at(viewer_->width() / 2, viewer_->height() / 2);

    // Menus that open are noted and closed.
    std::vector<std::string> menus;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menus.push_back(menu->actions().value(0)->text().toStdString());
            menu->close();
        }
    });
    poll.start(20);

    // Through the top-level window, as the window system delivers them.
    QWindow* window = dlg_->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint in_window = viewer_->mapTo(dlg_.get(), at);
    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, in_window);
    QTest::qWait(100);
    EXPECT_TRUE(menus.empty()) << "no menu on the press";
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, in_window + QPoint(1, 1));
    ASSERT_TRUE(WaitFor([&] { return !menus.empty(); }));
    EXPECT_EQ(menus, std::vector<std::string>{"バージョン情報 Quenlo(&A)..."});
    EXPECT_EQ(viewer_->grabFramebuffer(), start);

    // A right drag of 40 pixels moves the robot 40 pixels, and opens no menu.
    menus.clear();
    const auto [left, right] = ModelColumns(start);
    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, in_window);
    for (int dx = 10; dx <= 40; dx += 10) QTest::mouseMove(window, in_window + QPoint(dx, 0));
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, in_window + QPoint(40, 0));
    QTest::qWait(100);
    EXPECT_TRUE(menus.empty());
    const auto [moved_left, moved_right] = ModelColumns(viewer_->grabFramebuffer());
    EXPECT_NEAR(moved_left - left, 40, 1);
    EXPECT_NEAR(moved_right - right, 40, 1);

    // Home goes back to the start view.
    QTest::keyClick(viewer_, Qt::Key_Home);
    EXPECT_EQ(viewer_->grabFramebuffer(), start);

    // A left drag turns the model; a double click goes back.
    QTest::mousePress(viewer_, Qt::LeftButton, Qt::NoModifier, at);
    for (int dx = 10; dx <= 60; dx += 10) QTest::mouseMove(viewer_, at + QPoint(dx, dx / 2));
    QTest::mouseRelease(viewer_, Qt::LeftButton, Qt::NoModifier, at + QPoint(60, 30));
    EXPECT_NE(viewer_->grabFramebuffer(), start);
    QTest::mouseDClick(viewer_, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(viewer_->grabFramebuffer(), start);
    EXPECT_TRUE(menus.empty());
}

TEST_F(PreviewPanel, APreviewThreadWaitsForItsFrameUntilTheWindowCloses) {
    // Served: the thread returns once the window has painted.
    std::atomic<int> answer{-1};
    std::thread painted([&] { answer = viewer_->RepaintAndWait(); });
    EXPECT_TRUE(WaitFor([&] { return answer != -1; }));
    painted.join();
    EXPECT_EQ(answer, 1);

    // Not served: closing releases a thread that waits, without a frame. No
    // event is served meanwhile, so the frame it asked for is never painted.
    answer = -1;
    const uint64_t asked = viewer_->frames_requested();
    std::thread waiting([&] { answer = viewer_->RepaintAndWait(); });
    while (viewer_->frames_requested() == asked) std::this_thread::yield();
    viewer_->StopWaiting();
    waiting.join();
    EXPECT_EQ(answer, 0);
    EXPECT_FALSE(viewer_->RepaintAndWait());
}

// Without a link the preview plays alone; closing the window ends it after
// the frame shown, and the window waits for it before freeing the renderer.
TEST_F(PreviewPanel, PlaysAloneAndEndsWithTheWindow) {
    const std::string dir = conversion_test::TempFolder();
    const std::string nod = conversion_test::WriteTra(
        dir + "nod.tra", conversion_test::MakeMotion({0, 4, 8}, {"body", "head"},
                                                     {{0, 0, 1}, {0, 1, 1}, {0, 0, 1}}));
    Ctl<QComboBox>(1007)->setCurrentIndex(0);  // 10 ms
    ASSERT_TRUE(DropBac({kExamples + "/robot.bac"}));
    ASSERT_TRUE(DropTra({nod}));
    ASSERT_TRUE(Converted());
    auto* play = Ctl<QPushButton>(1015);
    size_t mark = Console().size();
    play->click();
    EXPECT_EQ(play->text(), "中止");
    // Ended: the caption is back and the port list, which waits for a
    // playback's end, is on again.
    ASSERT_TRUE(WaitFor([&] { return play->text() == "再生" && Enabled(1001); }));
    EXPECT_EQ(ConsoleSince(mark).rfind("モーション #0 再生\n frame=", 0), 0u) << ConsoleSince(mark);
    EXPECT_NE(ConsoleSince(mark).find("\n end "), std::string::npos);

    // The wave lasts 5 s at 25 ms; the window closes a moment into it.
    Ctl<CTraSel>(1010)->setCurrentRow(0);
    dlg_->DeleteEntry();
    Ctl<QComboBox>(1007)->setCurrentIndex(3);
    ASSERT_TRUE(DropTra({kExamples + "/wave.tra"}));
    ASSERT_TRUE(Converted());
    mark = Console().size();
    const uint64_t painted = viewer_->frames_painted();
    play->click();
    ASSERT_TRUE(WaitFor([&] { return viewer_->frames_painted() > painted + 2; }));
    // The playback reads the conversion: the fields take no drop meanwhile,
    // and files handed over otherwise (a glTF import that ends now) are refused.
    EXPECT_FALSE(DropBac({kExamples + "/robot.bac"}));
    const size_t before_drops = Console().size();
    dlg_->DropBac({kExamples + "/robot.bac"});
    dlg_->DropTra({nod});
    EXPECT_EQ(ConsoleSince(before_drops).find("操作は無効です\n操作は無効です\n"), 0u)
        << ConsoleSince(before_drops);
    EXPECT_EQ(Ctl<CTraSel>(1010)->count(), 1);
    EXPECT_EQ(play->text(), "中止");
    dlg_->reject();  // the close button
    EXPECT_FALSE(dlg_->state().m_bPlaying);
    EXPECT_EQ(dlg_->renderer(), nullptr);
    const std::string said = ConsoleSince(mark);
    const size_t frame = said.find(" frame=");
    ASSERT_NE(frame, std::string::npos) << said;
    EXPECT_LT(std::stoi(said.substr(frame + 7)), 200) << "stopped before the end";
    EXPECT_NE(said.find("\n end "), std::string::npos);
}

// With a board connected, Play drives the robot and the preview shows the
// steps as their commands go out, ending on the robot's last pose; the
// console is the live thread's alone.
TEST_F(PreviewPanel, FollowsTheBoardStepByStep) {
    quenlo::sim::test::SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({});
    ASSERT_FALSE(pty.empty());
    dlg_->SelectPort(-1, pty);
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(LinkOpen());
    const std::string dir = conversion_test::TempFolder();
    quenlo::tra4::Motion nod = conversion_test::MakeMotion(
        {0, 4, 8, 16}, {"body", "head"}, {{0, 0, 1}, {0, 1, 1}, {0, 0, 1}, {0, -1, 1}});
    Ctl<QComboBox>(1007)->setCurrentIndex(0);  // 10 ms
    ASSERT_TRUE(DropBac({kExamples + "/robot.bac"}));
    ASSERT_TRUE(DropTra({conversion_test::WriteTra(dir + "nod.tra", nod)}));
    ASSERT_TRUE(Converted());

    quenlo::preview::PreviewBone& head = *dlg_->renderer()->scene().bones()[1];
    const quenlo::preview::PreviewVector last = head.tracks[0].back().direction;
    auto head_at_last_key = [&] {
        std::lock_guard<std::mutex> lock(dlg_->renderer()->scene().pose_mutex());
        return head.active_track == 0 && head.pose_direction == last;
    };
    EXPECT_FALSE(head_at_last_key());
    const uint64_t painted = viewer_->frames_painted();
    const size_t mark = Console().size();
    Ctl<QAbstractButton>(1015)->click();
    // The robot plays: its set-up comes first, from the live thread.
    EXPECT_TRUE(WaitFor([&] { return ConsoleSince(mark).starts_with("RCB-4HV初期化中\n"); }));
    ASSERT_TRUE(WaitFor(
        [&] { return ConsoleSince(mark).find("モーション再生終了") != std::string::npos; }));
    EXPECT_TRUE(WaitFor(head_at_last_key));
    EXPECT_GT(viewer_->frames_painted(), painted);
    const std::string said = ConsoleSince(mark);
    EXPECT_EQ(said.find("モーション #0 再生"), said.rfind("モーション #0 再生")) << said;
}

}  // namespace
}  // namespace window_test
