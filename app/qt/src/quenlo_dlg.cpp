// The main window: its controls from the control table, the console, the
// OperatorUi requests, the About box and closing.
#include "quenlo_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "about_dlg.h"
#include "control_ids.h"
#include "conversion.h"
#include "dialog_units.h"
#include "drop_targets.h"
#include "port_combo.h"
#include "preview_gl.h"
#include "quenlo/platform.h"
#include "ui_thread.h"
#include "usbio.h"

using quenlo::qt::ControlId;
using enum quenlo::qt::ControlId;
using quenlo::qt::DialogUnits;

namespace {

std::atomic<bool> g_capturing{false};  // a window captures standard error

constexpr int kWidth = 495;  // dialog units
constexpr int kHeight = 329;
const char* const kSpeeds[] = {"115.2k", "625k", "1.25M"};

QString FromBytes(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Places a control by its rectangle in dialog units and names it by its ID.
template <class Widget>
Widget* Place(Widget* widget, const DialogUnits& du, ControlId id, int x, int y, int w, int h) {
    if (id) widget->setObjectName(QString("ctl%1").arg(id));
    widget->setGeometry(du.Rect(x, y, w, h));
    return widget;
}

// A drop-down list: its rectangle's height is that of the open list; closed,
// it is as tall as the style makes it.
template <class List>
List* PlaceList(List* list, const DialogUnits& du, ControlId id, int x, int y, int w, int list_h) {
    Place(list, du, id, x, y, w, list_h);
    list->setFixedHeight(list->sizeHint().height());
    list->setMaxVisibleItems(std::max(1, list_h / 8 - 1));
    return list;
}

void PlaceLabel(QWidget* parent, const DialogUnits& du, const char* text, int x, int y) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(du.X(x), du.Y(y));
    label->resize(label->sizeHint().width(), du.Y(8));
}

}  // namespace

CQuenloDlg::CQuenloDlg(QWidget* parent, quenlo::PortScan::Source devices)
    : QDialog(parent), port_scan_(std::move(devices)) {
    setWindowTitle("Quenlo");
    setWindowIcon(quenlo::qt::ProgramIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(quenlo::qt::DialogFont());
    BuildControls();
    ConnectControls();
    // Captures stack on fd 2 and must end in reverse order: one window at a
    // time captures.
    if (!g_capturing.exchange(true))
        stderr_capture_ = std::make_unique<quenlo::StderrCapture>(
            [this](std::string_view line) { CaptureDiagnostic(line); });

    ApplyConvertButton();
    EnablePlay(false);
    state_.m_bConverted = false;
    Operation operation(*this);
    ui_.ConsolePrint("setup\r\n");
    ListPorts();
    port_list_->setCurrentIndex(0);
    SetUpPreview();
}

CQuenloDlg::~CQuenloDlg() {
    StopWorkers();
    if (stderr_capture_) {
        stderr_capture_.reset();
        g_capturing = false;
    }
    ClosePreview();
}

void CQuenloDlg::BuildControls() {
    const DialogUnits du = DialogUnits::Of(font());
    setFixedSize(du.X(kWidth), du.Y(kHeight));

    // The group box first, so the controls it frames lie above it.
    Place(new QGroupBox("モデル", this), du, kNoId, 70, 47, 235, 171);

    PlaceLabel(this, du, "通信ポート", 7, 10);
    port_list_ = PlaceList(new PortCombo(this), du, kPortListId, 7, 19, 84, 68);
    port_list_->setEditable(true);  // a device path may be typed and confirmed with Enter
    port_list_->setInsertPolicy(QComboBox::NoInsert);
    port_list_->addItem("非接続");

    rom_button_ = Place(new QPushButton("ROM転送", this), du, kRomId, 191, 7, 50, 14);
    rom_menu_button_ = Place(new QToolButton(this), du, kNoId, 242, 7, 10, 14);
    rom_menu_button_->setObjectName("romMenuButton");
    rom_menu_button_->setArrowType(Qt::DownArrow);
    play_button_ = Place(new QPushButton("再生", this), du, kPlayId, 255, 7, 50, 14);
    play_all_button_ = Place(new QPushButton("全再生", this), du, kPlayAllId, 255, 27, 50, 14);
    play_all_button_->setEnabled(false);
    loop_box_ = Place(new QCheckBox("ループ再生", this), du, kLoopId, 204, 29, 46, 10);

    PlaceLabel(this, du, "COM通信速度(bps)", 7, 49);
    serial_speed_ = PlaceList(new QComboBox(this), du, kSerialSpeedId, 7, 58, 48, 62);
    PlaceLabel(this, du, "ICS通信速度(bps)", 7, 89);
    servo_speed_ = PlaceList(new QComboBox(this), du, kServoSpeedId, 7, 98, 48, 52);
    for (QComboBox* list : {serial_speed_, servo_speed_}) {
        for (const char* speed : kSpeeds) list->addItem(speed);
        list->setCurrentIndex(0);
        list->setEnabled(false);  // shows the link's speeds only
    }
    PlaceLabel(this, du, "再生レート(ms)", 7, 128);
    rate_list_ = PlaceList(new QComboBox(this), du, kRateListId, 7, 138, 48, 61);
    for (const quenlo::RateEntry& rate : quenlo::kRates) rate_list_->addItem(rate.text);
    rate_list_->setCurrentIndex(quenlo::kDefaultRate);
    PlaceLabel(this, du, "モーション遷移間隔", 7, 161);
    interval_list_ = PlaceList(new QComboBox(this), du, kIntervalListId, 7, 171, 48, 49);
    for (const char* text : quenlo::kIntervalTexts)
        interval_list_->addItem(QString::fromUtf8(text));
    interval_list_->setCurrentIndex(quenlo::kDefaultInterval);

    PlaceLabel(this, du, "基本(BAC6)", 76, 59);
    bac_field_ = Place(new CBacSel(this), du, kBacFieldId, 75, 69, 202, 14);
    convert_button_ = Place(new QPushButton("変換", this), du, kConvertId, 282, 97, 19, 14);
    PlaceLabel(this, du, "モーション(TRA4)", 76, 90);
    motion_list_ = Place(new CTraSel(this), du, kMotionListId, 76, 99, 204, 112);
    up_button_ = Place(new QPushButton("↑", this), du, kUpId, 284, 127, 14, 14);
    down_button_ = Place(new QPushButton("↓", this), du, kDownId, 284, 145, 14, 14);
    delete_button_ = Place(new QPushButton("削除", this), du, kDeleteId, 281, 197, 20, 14);

    clear_button_ = Place(new QPushButton("ｺﾝｿｰﾙｸﾘｱ", this), du, kClearId, 7, 206, 37, 14);
    clear_button_->setDefault(true);  // Enter in the window clears the console
    console_ = Place(new QPlainTextEdit(this), du, kConsoleId, 7, 222, 298, 93);
    console_->setReadOnly(true);
    console_->setLineWrapMode(QPlainTextEdit::NoWrap);
    console_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    console_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tall enough for the name of the part of ROM work it shows.
    progress_ = Place(new QProgressBar(this), du, kNoId, 7, 317, 298, 10);
    progress_->setObjectName("romProgress");
    progress_->setAlignment(Qt::AlignCenter);
    ClearProgress();

    preview_frame_ = Place(new QFrame(this), du, kPreviewId, 311, 7, 177, 315);
    preview_frame_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    BuildRomMenu();
    DescribeControls();
}

void CQuenloDlg::DescribeControls() {
    const std::pair<QWidget*, const char*> tips[] = {
        {port_list_,
         "ボードの通信ポート: 一覧から選ぶか、デバイスのパスを入力してEnterで接続します。"
         "先頭の項目を選ぶと切断します"},
        {rom_button_,
         "変換したモーションをボードのROMに書き込みます。"
         "右クリックでROMの保存と書き戻し"},
        {rom_menu_button_, "ROMの保存と書き戻し、転送前のバックアップ"},
        {play_button_, "選択したモーションを再生します (再生中は中止)"},
        {play_all_button_, "すべてのモーションを順に再生します (再生中は中止)"},
        {loop_box_, "最後まで再生したら初めから繰り返します"},
        {serial_speed_, "ボードとの通信速度 (表示のみ)"},
        {servo_speed_, "サーボの通信速度 (表示のみ)"},
        {rate_list_, "1フレームの時間 (ミリ秒)。変えると変換し直します"},
        {interval_list_, "全再生でモーションの間に置く時間"},
        {bac_field_, "ロボットのモデル (BAC6): ファイルをドロップするか、ダブルクリックで選びます"},
        {convert_button_, "モデルとモーションをボードのコマンドに変換します"},
        {motion_list_,
         "モーション (TRA4) を再生の順に並べます: ファイルをドロップするか、"
         "右クリックで追加します。Deleteキーで削除"},
        {up_button_, "選択したモーションを上へ移動します"},
        {down_button_, "選択したモーションを下へ移動します"},
        {delete_button_, "選択したモーションを一覧から削除します"},
        {clear_button_, "コンソールを消去します"},
        {console_, "操作の記録"},
        {progress_, "ROMの読み書きの進み具合"},
        {preview_frame_, "3Dプレビュー"},
    };
    for (const auto& [widget, tip] : tips) widget->setToolTip(QString::fromUtf8(tip));
}

void CQuenloDlg::ConnectControls() {
    connect(clear_button_, &QPushButton::clicked, this, [this] { ClearConsole(); });
    connect(rom_button_, &QPushButton::clicked, this, [this] { TransferToRom(); });
    rom_button_->installEventFilter(this);
    connect(port_list_, &QComboBox::activated, this, [this](int index) { PortChosen(index); });
    port_list_->installEventFilter(this);
    port_list_->lineEdit()->installEventFilter(this);
    port_list_->set_open_handler([this] {
        Operation operation(*this);
        ListPorts();
    });
    connect(convert_button_, &QPushButton::clicked, this, [this] { Convert(); });
    connect(up_button_, &QPushButton::clicked, this, [this] { MoveUp(); });
    connect(down_button_, &QPushButton::clicked, this, [this] { MoveDown(); });
    connect(delete_button_, &QPushButton::clicked, this, [this] { DeleteEntry(); });
    connect(rate_list_, &QComboBox::currentIndexChanged, this, [this] { RateChanged(); });
    connect(interval_list_, &QComboBox::currentIndexChanged, this, [this](int index) {
        ui_.IntervalChanged(index);
        ui_.ConsolePrint("遷移間隔変更\r\n");
    });
    connect(loop_box_, &QCheckBox::toggled, this, [this](bool on) { ui_.LoopChanged(on); });
    for (QComboBox* list : {serial_speed_, servo_speed_})
        connect(list, &QComboBox::currentIndexChanged, this,
                [this] { ui_.ConsolePrint("未対応ですよ\r\n"); });
    bac_field_->set_drop_handler([this](const std::vector<std::string>& paths) { DropBac(paths); });
    bac_field_->set_open_handler([this] { OpenModel(); });
    motion_list_->installEventFilter(this);
    motion_list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(motion_list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowMotionMenu(at); });
    motion_list_->set_drop_handler(
        [this](const std::vector<std::string>& paths) { DropTra(paths); });

    connect(play_button_, &QPushButton::clicked, this, [this] { PlayPressed(false); });
    connect(play_all_button_, &QPushButton::clicked, this, [this] { PlayPressed(true); });

    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] { WatchLink(); });
    watch->start(1000);

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { ShowAbout(); });
}

void CQuenloDlg::Start(const quenlo::qt::StartupRequest& request) {
    if (!request.models.empty()) DropBac(request.models);
    if (!request.motions.empty()) DropTra(request.motions);
    startup_port_ = request.port;
    ConnectStartupPort();
}

// After the command line's conversion, so that its lines come first.
void CQuenloDlg::ConnectStartupPort() {
    if (startup_port_.isEmpty() || ConversionRunning() || conversion_worker_.Retired()) return;
    port_list_->setEditText(std::exchange(startup_port_, QString()));
    PortTyped();
}

// ---- Console ----------------------------------------------------------------

void CQuenloDlg::AppendConsole(std::string_view text) {
    ShowDiagnostics();  // what a library wrote before this line comes first
    // A terminal that started the program keeps the same log.
    quenlo::LogWrite(quenlo::Stream::Out, text);
    AppendToPane(text);
}

void CQuenloDlg::ShowWorkerLine(std::string_view text, uint64_t diagnostics_before) {
    ShowDiagnostics(diagnostics_before);
    AppendToPane(text);
}

void CQuenloDlg::AppendToPane(std::string_view text) {
    QString shown = FromBytes(text);
    shown.replace("\r\n", "\n");
    shown.remove('\r');
    // At the selection: the end, unless the operator has clicked elsewhere.
    console_->textCursor().insertText(shown);
    console_->verticalScrollBar()->setValue(console_->verticalScrollBar()->maximum());
}

// ---- Diagnostics ------------------------------------------------------------

void CQuenloDlg::CaptureDiagnostic(std::string_view line) {
    {
        std::lock_guard lock(diagnostics_mutex_);
        diagnostics_.emplace_back(line);
        ++diagnostics_captured_;
    }
    // The reader thread never waits for the window.
    quenlo::qt::PostToUi(this, [this] { ShowDiagnostics(); });
}

uint64_t CQuenloDlg::DiagnosticsCaptured() {
    if (stderr_capture_) stderr_capture_->Sync();
    std::lock_guard lock(diagnostics_mutex_);
    return diagnostics_captured_;
}

void CQuenloDlg::ShowDiagnostics(uint64_t before) {
    if (stderr_capture_ && before == kAllDiagnostics) stderr_capture_->Sync();
    std::vector<std::string> lines;
    {
        std::lock_guard lock(diagnostics_mutex_);
        // Those captured after `before` stay for the lines that follow them.
        const uint64_t later = before < diagnostics_captured_ ? diagnostics_captured_ - before : 0;
        const auto end = diagnostics_.end() - static_cast<std::ptrdiff_t>(
                                                  std::min<uint64_t>(later, diagnostics_.size()));
        lines.assign(std::make_move_iterator(diagnostics_.begin()), std::make_move_iterator(end));
        diagnostics_.erase(diagnostics_.begin(), end);
    }
    for (const std::string& line : lines)
        if (diagnostic_limit_.Take()) AppendToPane(line + "\n");
}

void CQuenloDlg::ShowHeldDiagnostics() {
    ShowDiagnostics();
    const std::string held = diagnostic_limit_.End();
    if (!held.empty()) AppendConsole(held);
}

void CQuenloDlg::BeginOperation() {
    if (operation_depth_++ == 0) ShowHeldDiagnostics();  // they belong to what came before
}

void CQuenloDlg::EndOperation() {
    if (--operation_depth_ == 0) ShowHeldDiagnostics();
}

void CQuenloDlg::ClearConsole() {
    if (console_->document()->isEmpty()) return;
    console_->clear();
}

// ---- Play buttons -----------------------------------------------------------

void CQuenloDlg::EnablePlay(bool enable) {
    play_enabled_ = enable;
    ApplyPlayButtons();
}

void CQuenloDlg::EnablePlayAll(bool enable) {
    play_all_enabled_ = enable;
    ApplyPlayButtons();
}

// The buttons offer what would work now. While a playback runs only the button
// that started it (reading "中止") does; the ROM and the port list wait for its
// end, and the ROM needs a conversion and a board.
void CQuenloDlg::ApplyPlayButtons() {
    const bool playing = state_.m_bPlaying;
    const bool free = !state_.m_bLinkBusy && !playing;
    const bool converted = state_.m_bConverted && state_.m_pDataInfo;
    play_button_->setEnabled(playing ? !playing_all_ : free && converted && play_enabled_);
    play_all_button_->setEnabled(playing ? playing_all_ : free && converted && play_all_enabled_);
    rom_button_->setEnabled(free && converted && state_.LinkOpen());
    port_list_->setEnabled(free);
}

bool CQuenloDlg::eventFilter(QObject* watched, QEvent* event) {
    // The ROM button's menu, whether the button is enabled or not: the
    // transfer needs a conversion, saving and restoring the ROM do not.
    if (watched == rom_button_ && event->type() == QEvent::ContextMenu) {
        ShowRomMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    // Enter in the port list connects the typed device; it is not the window's
    // Enter, which clears the console. A keyboard's keys reach the list itself,
    // which hands them to its text without filters: both are watched.
    if ((watched == port_list_ || watched == port_list_->lineEdit()) &&
        (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        PortTyped();
        return true;
    }
    if (watched == motion_list_ && key == Qt::Key_Delete) {
        DeleteEntry();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- About box and closing --------------------------------------------------

void CQuenloDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CQuenloDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(quenlo::qt::kAboutItem), this, [this] { ShowAbout(); });
    menu.exec(event->globalPos());
}

void CQuenloDlg::StopWorkers() {
    quenlo::qt::WorkerThread* const workers[] = {&link_worker_, &preview_worker_, &motion_worker_,
                                                 &import_worker_, &conversion_worker_};
    for (quenlo::qt::WorkerThread* worker : workers) {
        worker->Retire();
        worker->RequestStop();
    }
    StopPreview();  // the preview thread waits for no frame any more
    for (quenlo::qt::WorkerThread* worker : workers) worker->Join();
    // What they posted before they ended is shown, and their ends handled.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void CQuenloDlg::done(int result) {
    if (closing_) return;
    // A ROM transfer is never cut by a close: the board would keep half a program.
    if (rom_transfer_) return CloseDuringRomTransfer();
    closing_ = true;
    hide();
    StopWorkers();
    // Nothing runs any more that could use them.
    ClosePreview();
    state_.m_pUsbIO.reset();
    state_.m_nLinkSpeed = -1;
    state_.m_pDataInfo.reset();
    state_.m_bConverted = false;
    QDialog::done(result);
}
