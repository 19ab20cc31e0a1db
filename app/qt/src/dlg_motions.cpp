// The model field and the motion list: drops and file dialogs, moving and
// deleting entries, the list's menu, the rate list, and the conversion they
// lead to.
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>

#include "conversion.h"
#include "drop_targets.h"
#include "mviewer.h"
#include "preview_gl.h"
#include "quenlo_dlg.h"
#include "ui_thread.h"

namespace {

// Exactly ".bac" or ".BAC" (and the same for ".tra"): mixed case is refused.
bool HasExtension(const std::string& path, const char* lower, const char* upper) {
    if (path.size() < 4) return false;
    const std::string tail = path.substr(path.size() - 4);
    return tail == lower || tail == upper;
}

}  // namespace

// A playback reads the conversion held until its servos are released: a new
// model or motion would free it under the playback's feet.
bool CQuenloDlg::RefuseWhilePlaying() {
    if (!state_.m_bPlaying && !motion_worker_.Running()) return false;
    ui_.ConsolePrint("操作は無効です\r\n");
    return true;
}

void CQuenloDlg::DropBac(const std::vector<std::string>& paths) {
    Operation operation(*this);
    if (RefuseWhilePlaying()) return;
    ui_.ConsolePrint("BACにドロップされたファイルの数 = %d\r\n", static_cast<int>(paths.size()));
    if (paths.size() != 1) {
        ui_.ConsolePrint("BACは１つだけです\r\n");
        return;
    }
    const std::string& path = paths.front();
    if (quenlo::IsSceneFile(path)) return ImportScene(path);
    if (!HasExtension(path, ".bac", ".BAC")) {
        ui_.ConsolePrint(" %sは、BACファイルではありません\r\n", path.c_str());
        return;
    }
    ui_.ConsolePrint(" BAC = %s\r\n", path.c_str());
    // The preview's model goes with the field's.
    bac_field_->SetPath(path);
    if (renderer_) {
        renderer_->scene().ClearBacObject();
        if (viewer_) viewer_->update();
    }
    state_.m_bBoardReady = false;  // the next playback sets the board up in full
    ResetConversion();
    TryAutoConversion();
}

void CQuenloDlg::ImportScene(const std::string& scene) {
    ui_.ConsolePrint(" glTF = %s\r\n", scene.c_str());
    if (import_worker_.Running()) {
        ui_.ConsolePrint(" 前のインポートが終わっていません\r\n");
        return;
    }
    // Off the window's thread: a large scene takes a while to read and write.
    BeginOperation();  // the worker's lines count with the drop that started it
    const bool started = import_worker_.Start([this, scene,
                                               folder = quenlo::SceneImportFolder(scene),
                                               rate = rate_list_->currentIndex()](std::stop_token) {
        std::optional<quenlo::ImportedScene> files = quenlo::ImportScene(ui_, scene, folder, rate);
        return [this, files = std::move(files)] {
            EndOperation();
            // A window that is closing takes nothing more.
            if (!files || import_worker_.Retired()) return;
            DropBac({files->model});
            if (!files->motions.empty()) DropTra(files->motions);
        };
    });
    if (!started) EndOperation();
}

void CQuenloDlg::DropTra(const std::vector<std::string>& paths) {
    Operation operation(*this);
    if (RefuseWhilePlaying()) return;
    ui_.ConsolePrint("TRAにドロップされたファイルの数 = %d\r\n", static_cast<int>(paths.size()));
    for (const std::string& path : paths) {
        if (!HasExtension(path, ".tra", ".TRA")) {
            ui_.ConsolePrint(" %sは、TRAファイルではありません\r\n", path.c_str());
            continue;
        }
        ui_.ConsolePrint(" TRA = %s\r\n", path.c_str());
        motion_list_->AppendPath(path);
        ResetConversion();
    }
    EnablePlayAll(motion_list_->count() > 1);
    TryAutoConversion();
}

QStringList CQuenloDlg::ChooseFiles(const char* title, const char* filter, bool several) {
    QFileDialog dialog(this, QString::fromUtf8(title), file_folder_, QString::fromUtf8(filter));
    dialog.setObjectName("fileDialog");
    // Qt's own dialog on every desktop: the same for the operator and the tests.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    file_folder_ = dialog.directory().absolutePath();
    return dialog.selectedFiles();
}

void CQuenloDlg::OpenModel() {
    const QStringList files =
        ChooseFiles("モデルを開く",
                    "モデル (*.bac *.BAC *.glb *.GLB *.gltf *.GLTF);;BAC6モデル (*.bac *.BAC);;"
                    "glTF (*.glb *.GLB *.gltf *.GLTF)",
                    false);
    if (!files.isEmpty()) DropBac({quenlo::qt::ChosenPath(files.front())});
}

void CQuenloDlg::AddMotions() {
    const QStringList files = ChooseFiles("モーションを追加", "TRA4モーション (*.tra *.TRA)", true);
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(quenlo::qt::ChosenPath(file));
    if (!paths.empty()) DropTra(paths);
}

void CQuenloDlg::ShowMotionMenu(const QPoint& at) {
    const int row = motion_list_->currentRow();
    const int count = motion_list_->count();
    QMenu menu(this);
    menu.addAction("モーションを追加...", this, [this] { AddMotions(); });
    menu.addSeparator();
    menu.addAction("上へ移動", this, [this] { MoveUp(); })->setEnabled(row > 0);
    menu.addAction("下へ移動", this, [this] { MoveDown(); })
        ->setEnabled(row >= 0 && row + 1 < count);
    menu.addAction("削除", this, [this] { DeleteEntry(); })->setEnabled(row >= 0);
    menu.exec(motion_list_->viewport()->mapToGlobal(at));
}

void CQuenloDlg::DeleteEntry() {
    Operation operation(*this);
    const int row = motion_list_->currentRow();
    if (state_.m_bPlaying || row < 0) {
        ui_.ConsolePrint("ファイルが選択されていません\r\n");
        return;
    }
    const std::string path = motion_list_->PathAt(row);
    delete motion_list_->takeItem(row);
    ui_.ConsolePrint("%sを削除\r\n", path.c_str());
    ResetConversion();
    EnablePlayAll(motion_list_->count() > 1);
}

void CQuenloDlg::MoveEntry(int step) {
    Operation operation(*this);
    const int row = motion_list_->currentRow();
    const int target = row + step;
    if (state_.m_bPlaying || motion_list_->count() < 2 || row < 0 || target < 0 ||
        target >= motion_list_->count()) {
        ui_.ConsolePrint("移動できません\r\n");
        return;
    }
    const std::string path = motion_list_->PathAt(row);
    delete motion_list_->takeItem(row);
    motion_list_->InsertPath(target, path);
    motion_list_->setCurrentRow(target);
    ui_.ConsolePrint("%sを移動\r\n", path.c_str());
    ResetConversion();
}

void CQuenloDlg::RateChanged() {
    Operation operation(*this);
    if (state_.m_bPlaying) {
        ui_.ConsolePrint("操作は無効です\r\n");
        return;
    }
    ui_.ConsolePrint("再生速度変更\r\n");
    ResetConversion();
}

void CQuenloDlg::ResetConversion() {
    ++conversion_serial_;  // what runs now is outdated, what waits is dropped
    conversion_wanted_.reset();
    state_.m_pDataInfo.reset();
    state_.m_bConverted = false;
    convert_offered_ = true;
    ApplyConvertButton();
    EnablePlay(false);
}

void CQuenloDlg::Convert() {
    Operation operation(*this);
    ResetConversion();
    RequestConversion(ConversionKind::Button);
}

void CQuenloDlg::TryAutoConversion() {
    // Nothing to convert: nothing changes, and nothing is said.
    if (!quenlo::AutoConversionReady(bac_field_->Path(), motion_list_->Paths())) return;
    ResetConversion();
    RequestConversion(ConversionKind::Auto);
}

// Started once the current event is handled: a drop that both sets the model
// and adds motions converts once, and the conversion's lines follow the drop's.
void CQuenloDlg::RequestConversion(ConversionKind kind) {
    conversion_wanted_ = kind;
    ApplyConvertButton();
    if (conversion_start_posted_) return;
    conversion_start_posted_ = true;
    quenlo::qt::PostToUi(this, [this] {
        conversion_start_posted_ = false;
        StartConversion();
    });
}

void CQuenloDlg::StartConversion() {
    if (!conversion_wanted_ || converting_) return;  // a running one starts it when it ends
    const ConversionKind kind = *conversion_wanted_;
    conversion_wanted_.reset();
    // The libraries hold one model and one motion, and only the conversion
    // held reads them (preview, playback, ROM): none is held while one runs.
    state_.m_pDataInfo.reset();
    state_.m_bConverted = false;
    converting_ = true;
    converting_serial_ = conversion_serial_;
    BeginOperation();  // the worker's lines count with the command that asked
    const bool started = conversion_worker_.Start(
        [this, kind, hook = conversion_hook_, bac = bac_field_->Path(),
         motions = motion_list_->Paths(), rate = rate_list_->currentIndex()](std::stop_token) {
            if (hook) hook();
            auto data = std::make_shared<std::unique_ptr<CDataInfo>>(
                kind == ConversionKind::Button
                    ? quenlo::Convert(ui_, bac, motions, rate)
                    : quenlo::TryAutoConversion(ui_, bac, motions, rate));
            return [this, data] { ConversionEnded(std::move(*data)); };
        });
    if (!started) {  // closing
        converting_ = false;
        EndOperation();
    }
    ApplyConvertButton();
}

void CQuenloDlg::ConversionEnded(std::unique_ptr<CDataInfo> data) {
    converting_ = false;
    EndOperation();
    // Outdated or closing: dropped here, where nothing else uses the libraries.
    if (converting_serial_ == conversion_serial_ && !conversion_worker_.Retired())
        TakeConversion(std::move(data));
    data.reset();
    if (conversion_wanted_) {
        // The worker counts as running until this returns.
        conversion_start_posted_ = true;
        quenlo::qt::PostToUi(this, [this] {
            conversion_start_posted_ = false;
            StartConversion();
        });
    }
    ApplyConvertButton();
    ApplyPlayButtons();
    ConnectStartupPort();
}

void CQuenloDlg::TakeConversion(std::unique_ptr<CDataInfo> data) {
    if (!data) return;  // the failure exit: no conversion, Convert enabled
    state_.m_pDataInfo = std::move(data);
    state_.m_bConverted = true;
    convert_offered_ = false;
    EnablePlay(true);
}

void CQuenloDlg::ApplyConvertButton() {
    convert_button_->setEnabled(convert_offered_ && !ConversionRunning());
}
