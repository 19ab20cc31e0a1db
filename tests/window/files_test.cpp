// Models and motions in the window: drops (glTF scenes imported), the
// automatic conversion, Convert, and the motion list's editing with the rules
// between them.
#include <QMouseEvent>
#include <QtTest/QTest>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "conversion.h"
#include "sim_process.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using quenlo::sim::test::TempDir;

// The example robot and motions under a short path of their own, so the
// 99-character cut of a drop never reaches them.
class FilesTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        for (const char* name : {"robot.bac", "bow.tra", "wave.tra", "walk.tra"})
            std::filesystem::copy_file(kExamples + "/" + name, dir_ / name);
    }
    std::string File(const std::string& name) { return dir_ / name; }
    CTraSel* List() { return Ctl<CTraSel>(1010); }
    // Files dropped, nothing converted: Convert on, Play off.
    bool Dropped() { return Enabled(1014) && !Enabled(1015); }

    TempDir dir_;
};

TEST_F(FilesTest, DropsOnTheModelField) {
    ASSERT_TRUE(DropBac({File("robot.bac")}));
    EXPECT_EQ(Ctl<CBacSel>(1008)->Path(), File("robot.bac"));
    // No motion yet: the path only.
    EXPECT_EQ(ConsoleSince(started_),
              "BACにドロップされたファイルの数 = 1\n BAC = " + File("robot.bac") + "\n");
    EXPECT_TRUE(Dropped());

    size_t mark = Console().size();
    ASSERT_TRUE(DropBac({File("a.bac"), File("b.bac")}));
    EXPECT_EQ(ConsoleSince(mark), "BACにドロップされたファイルの数 = 2\nBACは１つだけです\n");
    mark = Console().size();
    ASSERT_TRUE(DropBac({File("robot.Bac")}));
    EXPECT_EQ(ConsoleSince(mark), "BACにドロップされたファイルの数 = 1\n " + File("robot.Bac") +
                                      "は、BACファイルではありません\n");
    // A path of 100 characters is cut to 99 and fails the test.
    const std::string long_path = "/" + std::string(95, 'm') + ".bac";
    mark = Console().size();
    ASSERT_TRUE(DropBac({long_path}));
    EXPECT_EQ(ConsoleSince(mark), "BACにドロップされたファイルの数 = 1\n " +
                                      long_path.substr(0, 99) + "は、BACファイルではありません\n");
    EXPECT_EQ(Ctl<CBacSel>(1008)->Path(), File("robot.bac"));

    // Something that is no file at all is not taken.
    QMimeData text;
    text.setText("robot.bac");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Ctl(1008), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(FilesTest, DropsOnTheMotionListConvertOnceBothArePresent) {
    ASSERT_TRUE(DropTra({File("bow.tra"), File("notes.txt"), File("wave.TRA")}));
    EXPECT_EQ(ConsoleSince(started_),
              "TRAにドロップされたファイルの数 = 3\n TRA = " + File("bow.tra") + "\n " +
                  File("notes.txt") + "は、TRAファイルではありません\n TRA = " + File("wave.TRA") +
                  "\n");
    EXPECT_EQ(List()->Paths(), (std::vector<std::string>{File("bow.tra"), File("wave.TRA")}));
    EXPECT_FALSE(Enabled(1017)) << "two motions, but nothing converted to play";

    // The model arrives: converted at once. wave.TRA does not exist.
    ASSERT_TRUE(DropBac({File("robot.bac")}));
    EXPECT_TRUE(Dropped());
    // The library's own line on standard error shows in its place among the console's.
    const std::string missing = File("wave.TRA");
    EXPECT_NE(Console().find("TRA#1解析中\nanimread: " + missing +
                             ": cannot open (No such file or directory)\n" + missing +
                             "\n↑有効なTRA4ファイルではありません\n"),
              std::string::npos)
        << Console();

    // Deleting the bad entry leaves one: Play all off; the next drop converts.
    List()->setCurrentRow(1);
    dlg_->DeleteEntry();
    EXPECT_FALSE(Enabled(1017));
    size_t mark = Console().size();
    ASSERT_TRUE(DropTra({File("wave.tra"), File("wave.tra")}));  // the same file twice: two entries
    EXPECT_EQ(List()->count(), 3);
    EXPECT_TRUE(Converted());
    EXPECT_TRUE(Enabled(1017));
    EXPECT_NE(ConsoleSince(mark).find("BAC解析中\nTRA#0解析中\nTRA#1解析中\nTRA#2解析中\n"),
              std::string::npos);
    EXPECT_TRUE(ConsoleSince(mark).ends_with("変換成功\n"));

    // A drop in which no file passes leaves the list and converts again.
    mark = Console().size();
    ASSERT_TRUE(DropTra({File("x.doc")}));
    EXPECT_EQ(List()->count(), 3);
    EXPECT_TRUE(Converted());
    EXPECT_NE(ConsoleSince(mark).find("変換成功"), std::string::npos);
}

// A model that makes figread write 3000 lines (more than a pipe holds) to
// standard error while the window's thread converts: no deadlock, the first
// 200 in the console after the line that started them, then their count.
TEST_F(FilesTest, LibraryDiagnosticsShowUpToTwoHundredPerCommand) {
    std::string body = ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"t\")\n";
    for (int i = 0; i < 3000; ++i) body += "(bogus" + std::to_string(i) + " 1)\n";
    std::ofstream(File("noisy.bac")) << body << ")\n";
    ASSERT_TRUE(DropTra({File("bow.tra")}));
    const size_t mark = Console().size();
    ASSERT_TRUE(DropBac({File("noisy.bac")}));
    const std::string lines = ConsoleSince(mark);
    EXPECT_NE(lines.find("BAC解析中\n chunk name not found. line=5 < bogus0 >\n"),
              std::string::npos);
    EXPECT_NE(lines.find("line=204 < bogus199 >\n"), std::string::npos);
    EXPECT_EQ(lines.find("bogus200 "), std::string::npos);
    // The rest is counted: the 2800 left, and whatever else the command wrote.
    int held = 0;
    const size_t at = lines.rfind("診断メッセージ ");
    ASSERT_NE(at, std::string::npos) << lines;
    EXPECT_EQ(std::sscanf(lines.c_str() + at, "診断メッセージ %d 行を省略しました\n", &held), 1);
    EXPECT_GE(held, 2800);
    EXPECT_TRUE(lines.ends_with("行を省略しました\n"));
}

TEST_F(FilesTest, ConvertButtonChecksThenConverts) {
    dlg_->Convert();
    ASSERT_TRUE(WaitForConversion());
    EXPECT_EQ(ConsoleSince(started_), "BACファイルがありません\n");  // the model is checked first
    ASSERT_TRUE(DropTra({File("bow.tra")}));
    // A model path whose extension differs in case only passes Convert's check.
    std::filesystem::copy_file(File("robot.bac"), File("robot.BAC"));
    ASSERT_TRUE(DropBac({File("robot.BAC")}));
    EXPECT_TRUE(Converted());
    Ctl<QComboBox>(1007)->setCurrentIndex(6);  // rate "45": the conversion goes
    EXPECT_TRUE(Dropped());
    EXPECT_NE(Console().rfind("再生速度変更\n"), std::string::npos);
    size_t mark = Console().size();
    dlg_->Convert();
    ASSERT_TRUE(WaitForConversion());
    EXPECT_TRUE(Converted());
    EXPECT_EQ(ConsoleSince(mark).rfind("BAC解析中\n", 0), 0u);
    // Rate "45" has time scale 3: the first move's speed byte is three times "25"'s.
    EXPECT_EQ(dlg_->state().m_pDataInfo->mof_data()->motions().at(0).time_scale, 3);
}

TEST_F(FilesTest, MoveDeleteAndRateFollowTheirRules) {
    ASSERT_TRUE(DropBac({File("robot.bac")}));
    ASSERT_TRUE(DropTra({File("bow.tra"), File("wave.tra"), File("walk.tra")}));
    ASSERT_TRUE(Converted());
    EXPECT_TRUE(Enabled(1017));
    const std::vector<std::string> order = List()->Paths();

    auto answer = [this](const std::function<void()>& action) {
        const size_t mark = Console().size();
        action();
        return ConsoleSince(mark);
    };
    EXPECT_EQ(answer([this] { dlg_->DeleteEntry(); }), "ファイルが選択されていません\n");
    List()->setCurrentRow(0);
    EXPECT_EQ(answer([this] { dlg_->MoveUp(); }), "移動できません\n");
    List()->setCurrentRow(2);
    EXPECT_EQ(answer([this] { dlg_->MoveDown(); }), "移動できません\n");
    EXPECT_TRUE(Converted()) << "refusals change nothing";
    EXPECT_EQ(List()->Paths(), order);

    // While a playback runs, each refuses and nothing changes.
    dlg_->state().m_bPlaying = true;
    List()->setCurrentRow(1);
    EXPECT_EQ(answer([this] { dlg_->DeleteEntry(); }), "ファイルが選択されていません\n");
    EXPECT_EQ(answer([this] { dlg_->MoveUp(); }), "移動できません\n");
    EXPECT_EQ(answer([this] { Ctl<QComboBox>(1007)->setCurrentIndex(0); }), "操作は無効です\n");
    EXPECT_EQ(List()->Paths(), order);
    EXPECT_TRUE(Converted());
    dlg_->state().m_bPlaying = false;

    EXPECT_EQ(answer([this] { dlg_->MoveUp(); }), File("wave.tra") + "を移動\n");
    EXPECT_EQ(List()->Paths(), (std::vector<std::string>{order[1], order[0], order[2]}));
    EXPECT_EQ(List()->currentRow(), 0);
    EXPECT_TRUE(Dropped()) << "a move drops the conversion and does not convert";
    EXPECT_FALSE(Enabled(1017) || Enabled(1003)) << "nothing converted to play or write";
    EXPECT_EQ(answer([this] { dlg_->MoveDown(); }), File("wave.tra") + "を移動\n");
    EXPECT_EQ(List()->Paths(), order);

    List()->setCurrentRow(2);
    EXPECT_EQ(answer([this] { dlg_->DeleteEntry(); }), File("walk.tra") + "を削除\n");
    EXPECT_FALSE(Enabled(1017)) << "two entries, but their conversion is gone";
    dlg_->Convert();
    ASSERT_TRUE(WaitForConversion());
    EXPECT_TRUE(Enabled(1017));
    List()->setCurrentRow(0);
    dlg_->DeleteEntry();
    EXPECT_FALSE(Enabled(1017)) << "one entry left";
    EXPECT_TRUE(Dropped());
}

// The conversion runs on its own thread: while it runs the window handles its
// events, with Convert, Play, Play all and ROM off. A drop meanwhile makes the
// running result count for nothing; the next conversion's result is taken.
TEST_F(FilesTest, TheWindowAnswersWhileAConversionRuns) {
    ASSERT_TRUE(DropBac({File("robot.bac")}));
    ASSERT_TRUE(DropTra({File("bow.tra"), File("wave.tra")}));
    Ctl<QComboBox>(1007)->setCurrentIndex(2);  // drops the conversion: Convert on
    std::atomic<int> started{0};
    struct Hold {
        std::atomic<bool> go{false};
        void Release() {
            go = true;
            go.notify_all();
        }
        ~Hold() { Release(); }  // never leaves the conversion held
    } hold;
    dlg_->SetConversionHook([&] {
        ++started;
        hold.go.wait(false);
    });

    const size_t mark = Console().size();
    QTest::mouseClick(Ctl(1014), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return started == 1; }));
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    EXPECT_TRUE(WaitFor([&] { return handled; }));
    EXPECT_FALSE(Enabled(1014) || Enabled(1015) || Enabled(1017) || Enabled(1003));
    dlg_->DropTra({File("walk.tra")});
    EXPECT_FALSE(Enabled(1014)) << "the next conversion is asked for";

    hold.Release();
    ASSERT_TRUE(WaitForConversion());
    EXPECT_EQ(started, 2);
    EXPECT_TRUE(Converted());
    EXPECT_TRUE(Enabled(1017));
    const std::string lines = ConsoleSince(mark);
    EXPECT_NE(lines.find("TRAにドロップされたファイルの数 = 1\n TRA = " + File("walk.tra")),
              std::string::npos)
        << lines;
    EXPECT_TRUE(
        lines.ends_with("TRA#2解析中\n再生レート設定\nコマンド生成\nビューデータ生成\n変換成功\n"))
        << lines;
}

// A glTF scene on the model field (or on the command line) is imported into
// the cache's folder off the window's thread; its model takes the field and
// its animations join the list, converted as if dropped. A scene that cannot
// be imported says why and changes nothing.
TEST_F(FilesTest, ASceneOnTheModelFieldIsImportedAndTakenAsDropped) {
    std::filesystem::copy_file(QUENLO_GLTF_TEST_DATA "/blender_robot.glb", dir_ / "arm.glb");
    std::ofstream(File("bad.glb")) << "not a scene";
    ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    EXPECT_EQ(quenlo::qt::SortStartupFiles({File("arm.glb")}, {}).models,
              std::vector<std::string>{File("arm.glb")});

    ASSERT_TRUE(DropBac({File("arm.glb")}));
    ASSERT_TRUE(WaitFor([this] { return !dlg_->ImportRunning(); }) && WaitForConversion());
    const std::string folder = dir_ / "cache/quenlo/import/arm/arm";
    const std::vector<std::string> motions{folder + "-reach.tra", folder + "-swing.tra"};
    EXPECT_EQ(Ctl<CBacSel>(1008)->Path(), folder + ".bac");
    EXPECT_EQ(List()->Paths(), motions);
    EXPECT_TRUE(Converted());
    const std::string said = ConsoleSince(started_);
    EXPECT_TRUE(said.starts_with("BACにドロップされたファイルの数 = 1\n glTF = " + File("arm.glb") +
                                 "\n 警告: 12 scale channels were ignored\n" + folder +
                                 ".bac: 6 bones (5 servos), 72 polygons\n  bone 0 body: 12 "
                                 "polygons\n"))
        << said;
    EXPECT_NE(
        said.find(motions[1] + ": 21 keys, 800 ms\n インポート先 = " +
                  dir_ / "cache/quenlo/import/arm\nBACにドロップされたファイルの数 = 1\n BAC = " +
                  folder + ".bac\nTRAにドロップされたファイルの数 = 2\n TRA = " + motions[0] +
                  "\n TRA = " + motions[1] + "\n"),
        std::string::npos)
        << said;
    EXPECT_TRUE(said.ends_with("変換成功\n")) << said;

    const size_t mark = Console().size();
    ASSERT_TRUE(DropBac({File("bad.glb")}));
    ASSERT_TRUE(WaitFor([this] { return !dlg_->ImportRunning(); }) && WaitForConversion());
    EXPECT_EQ(ConsoleSince(mark), "BACにドロップされたファイルの数 = 1\n glTF = " +
                                      File("bad.glb") + "\n " + File("bad.glb") +
                                      "は、インポートできません: not glTF: neither a .glb nor a "
                                      "JSON .gltf\n");
    EXPECT_EQ(Ctl<CBacSel>(1008)->Path(), folder + ".bac");
    EXPECT_EQ(List()->Paths(), motions);
    EXPECT_TRUE(Converted());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "cache/quenlo/import/bad"));
    ::unsetenv("XDG_CACHE_HOME");
}

// The same files reach the window through file dialogs, the motion list's
// menu and the Delete key, with the drops' lines and rules.
TEST_F(FilesTest, FileDialogsTheListsMenuAndTheDeleteKey) {
    // A double click on the model field asks for the model; cancelling changes
    // nothing. (QTest's own double click keeps a button pressed in its books
    // when a dialog opens in between, which upsets later tests' clicks.)
    auto double_click = [this] {
        for (QEvent::Type type :
             {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            const QPointF at(5, 5);
            const bool down = type != QEvent::MouseButtonRelease;
            QMouseEvent event(type, at, Ctl(1008)->mapToGlobal(at), Qt::LeftButton,
                              down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(Ctl(1008), &event);
        }
    };
    AnswerNextFileDialog({});
    double_click();
    EXPECT_EQ(ConsoleSince(started_), "");
    AnswerNextFileDialog({File("robot.bac")});
    double_click();
    EXPECT_EQ(ConsoleSince(started_),
              "BACにドロップされたファイルの数 = 1\n BAC = " + File("robot.bac") + "\n");

    // Motions, several at once, from the list's menu: converted at once.
    QWidget* view = List()->viewport();
    AnswerNextFileDialog({File("bow.tra"), File("wave.tra"), File("walk.tra")});
    EXPECT_EQ(ChooseFromContextMenu(view, QPoint(5, 5), "モーションを追加..."),
              (std::vector<std::string>{"モーションを追加...", "-上へ移動", "-下へ移動", "-削除"}));
    const std::vector<std::string> order{File("bow.tra"), File("wave.tra"), File("walk.tra")};
    ASSERT_EQ(List()->Paths(), order);
    ASSERT_TRUE(WaitForConversion());
    EXPECT_TRUE(Converted());
    EXPECT_TRUE(Enabled(1017));

    // The menu's moves and removal act on the selected entry.
    List()->setCurrentRow(2);
    EXPECT_EQ(ChooseFromContextMenu(view, QPoint(5, 5), "上へ移動"),
              (std::vector<std::string>{"モーションを追加...", "上へ移動", "-下へ移動", "削除"}));
    EXPECT_EQ(List()->Paths(), (std::vector<std::string>{order[0], order[2], order[1]}));
    ChooseFromContextMenu(view, QPoint(5, 5), "削除");
    EXPECT_EQ(List()->Paths(), (std::vector<std::string>{order[0], order[1]}));

    // Delete in the list removes the selected entry, as 削除 does.
    List()->setFocus();
    List()->setCurrentRow(0);
    const size_t mark = Console().size();
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(ConsoleSince(mark), File("bow.tra") + "を削除\n");
    EXPECT_EQ(List()->Paths(), std::vector<std::string>{order[1]});
    EXPECT_TRUE(Dropped());
    EXPECT_FALSE(Enabled(1017));
}

}  // namespace
}  // namespace window_test
