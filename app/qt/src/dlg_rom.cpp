// The board's ROM in the window: the ROM button's transfer, the ROM menu (the
// ROM saved in a file, a saved file written back, a backup before each
// transfer), the progress bar's parts, and closing while ROM work runs. The
// core decides and writes the console; the work runs on the link worker.
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <utility>

#include "drop_targets.h"
#include "quenlo_dlg.h"
#include "usbio.h"

namespace {

constexpr char kImageFilter[] = "ROMイメージ (*.bin);;すべてのファイル (*)";

// The backup goes to the file chosen for it, which takes its name only once
// every byte is written; a failure says why on standard error.
std::function<bool(const std::vector<uint8_t>&)> KeepIn(std::shared_ptr<quenlo::OutputFile> file) {
    return [file = std::move(file)](const std::vector<uint8_t>& rom) {
        if (file->Write(rom) && file->Commit()) return true;
        quenlo::LogErr("%s\n", file->error().c_str());
        return false;
    };
}

}  // namespace

void CQuenloDlg::BuildRomMenu() {
    rom_menu_ = new QMenu(this);
    rom_menu_->setObjectName("romMenu");
    save_rom_ = rom_menu_->addAction("ROMをファイルに保存...", this, [this] { SaveRomToFile(); });
    restore_rom_ = rom_menu_->addAction("ファイルからROMへ書き戻す...", this,
                                        [this] { RestoreRomFromFile(); });
    rom_menu_->addSeparator();
    backup_first_ = rom_menu_->addAction("転送前にバックアップを保存");
    backup_first_->setCheckable(true);
    // Reading and writing the ROM need a board and an idle link, not a conversion.
    connect(rom_menu_, &QMenu::aboutToShow, this, [this] {
        const bool free = state_.LinkOpen() && !state_.m_bLinkBusy && !state_.m_bPlaying;
        save_rom_->setEnabled(free);
        restore_rom_->setEnabled(free);
    });
    // Under the button, as a drop-down opens.
    connect(rom_menu_button_, &QToolButton::clicked, this, [this] {
        ShowRomMenu(rom_menu_button_->mapToGlobal(QPoint(0, rom_menu_button_->height())));
    });
}

void CQuenloDlg::ShowRomMenu(const QPoint& global) {
    rom_menu_->exec(global);
}

std::string CQuenloDlg::ChooseNewFile(const char* title) {
    QFileDialog dialog(this, QString::fromUtf8(title), file_folder_,
                       QString::fromUtf8(kImageFilter));
    dialog.setObjectName("fileDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // as ChooseFiles
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    file_folder_ = dialog.directory().absolutePath();
    return quenlo::qt::ChosenPath(dialog.selectedFiles().front());
}

void CQuenloDlg::TransferToRom() {
    Operation operation(*this);
    // With the check item, where the ROM's present program goes is asked after
    // the confirmation; the file is opened before the board is touched.
    std::shared_ptr<quenlo::OutputFile> backup;
    auto choose_backup = [this, &backup] {
        const std::string path = ChooseNewFile("転送前のROMの保存先");
        if (path.empty()) return false;
        backup = std::make_shared<quenlo::OutputFile>(path);
        if (backup->Open()) return true;
        quenlo::LogErr("%s\n", backup->error().c_str());
        ui_.ConsolePrint("バックアップできませんでした\r\n");
        return false;
    };
    std::optional<quenlo::RomContent> content = quenlo::BeginRomTransfer(
        ui_, state_, motion_list_->count(), interval_list_->currentIndex(),
        rate_list_->currentIndex(),
        backup_first_->isChecked() ? std::function<bool()>(choose_backup) : nullptr);
    if (!content) return;
    StartRomWork(true, [this, image = std::move(*content), backup](std::stop_token stop) {
        quenlo::RomTransferOptions options;
        options.stop_after_block = std::move(stop);
        options.progress = [this](size_t done, size_t total) { ui_.ShowProgress(done, total); };
        if (backup) options.backup = KeepIn(backup);
        quenlo::WriteRomImage(ui_, *state_.m_pUsbIO, image, options);
        return quenlo::qt::WorkerThread::Finish();
    });
}

// The menu's jobs hold the link from the file dialog on; an answer that starts
// nothing gives it back.
bool CQuenloDlg::BeginRomMenuWork() {
    if (!quenlo::BeginRomWork(ui_, state_)) return false;
    ApplyPlayButtons();
    return true;
}

void CQuenloDlg::AbandonRomWork() {
    quenlo::EndLinkWork(state_);
    ApplyPlayButtons();
}

void CQuenloDlg::SaveRomToFile() {
    Operation operation(*this);
    if (!BeginRomMenuWork()) return;
    const std::string path = ChooseNewFile("ROMの保存先");
    if (path.empty() || !state_.m_pUsbIO) return AbandonRomWork();
    auto file = std::make_shared<quenlo::OutputFile>(path);
    if (!file->Open()) {
        quenlo::LogErr("%s\n", file->error().c_str());
        ui_.ConsolePrint("バックアップできませんでした\r\n");
        return AbandonRomWork();
    }
    ui_.ConsolePrint("ROMを保存します: %s\r\n", path.c_str());
    StartRomWork(false, [this, file](std::stop_token stop) {
        // Only reads: a close ends them at once, and the file is not written.
        CUsbIO& link = *state_.m_pUsbIO;
        link.SetStopToken(std::move(stop));
        quenlo::RomTransferOptions options;
        options.progress = [this](size_t done, size_t total) { ui_.ShowProgress(done, total); };
        options.backup = KeepIn(file);
        quenlo::SaveRom(ui_, link, options);
        link.SetStopToken({});
        return quenlo::qt::WorkerThread::Finish();
    });
}

void CQuenloDlg::RestoreRomFromFile() {
    Operation operation(*this);
    if (!BeginRomMenuWork()) return;
    const QStringList files = ChooseFiles("書き戻すROMイメージ", kImageFilter, false);
    if (files.isEmpty()) return AbandonRomWork();
    const std::string path = quenlo::qt::ChosenPath(files.front());
    std::vector<uint8_t> image;
    std::string why;
    if (!quenlo::ReadRomImageFile(path, quenlo::board::RomLayoutEnd(), image, why)) {
        quenlo::LogErr("%s\n", why.c_str());
        ui_.ConsolePrint("ROMイメージを読めませんでした\r\n");
        return AbandonRomWork();
    }
    const std::string question =
        path + " (" + std::to_string(image.size()) +
        " バイト) をボードのROMにアドレス0から書き込み、読み出して確かめてから"
        "ボードを再起動します。いまROMにあるプログラムは上書きされます。\n\n"
        "ファイルからROMへ書き戻しますか？";
    if (!ui_.Confirm("確認", question)) {
        ui_.ConsolePrint("転送しません\r\n");
        return AbandonRomWork();
    }
    if (!state_.m_pUsbIO) {  // the window closed meanwhile
        ui_.ConsolePrint("転送が中断しました\r\n");
        return AbandonRomWork();
    }
    ui_.ConsolePrint("転送をはじめます\r\n");
    StartRomWork(true, [this, image = std::move(image)](std::stop_token stop) {
        quenlo::RomTransferOptions options;
        options.stop_after_block = std::move(stop);
        options.progress = [this](size_t done, size_t total) { ui_.ShowProgress(done, total); };
        quenlo::RestoreRomImage(ui_, *state_.m_pUsbIO, image, options);
        return quenlo::qt::WorkerThread::Finish();
    });
}

void CQuenloDlg::StartRomWork(bool writes, quenlo::qt::WorkerThread::Body body) {
    ClearProgress();
    rom_transfer_ = writes;
    StartLinkWork([this, body = std::move(body)](std::stop_token stop) {
        quenlo::qt::WorkerThread::Finish finish = body(std::move(stop));
        return [this, finish = std::move(finish)] {
            if (finish) finish();
            ClearProgress();
            RomTransferEnded();
        };
    });
}

void CQuenloDlg::ShowRomPhase(quenlo::RomPhase phase) {
    const char* name = phase == quenlo::RomPhase::Backup  ? "バックアップ"
                       : phase == quenlo::RomPhase::Write ? "書き込み"
                                                          : "ベリファイ";
    progress_->setFormat(QString::fromUtf8(name) + " %p%");
    progress_->setTextVisible(true);
    progress_->setRange(0, 1);
    progress_->reset();  // from "nothing" to 0 %, however the last part ended
    progress_->setValue(0);
}

void CQuenloDlg::ClearProgress() {
    progress_->setTextVisible(false);
    progress_->setFormat(QString());
    progress_->setRange(0, 1);
    progress_->setValue(0);
}

void CQuenloDlg::RomTransferEnded() {
    rom_transfer_ = false;
    if (!close_after_transfer_) return;
    // The close asked for during the transfer, now that the board has its program.
    if (stop_question_) stop_question_->done(QMessageBox::No);
    QTimer::singleShot(0, this, [this] { reject(); });
}

// A close request during a ROM transfer: the first one waits for its end, a
// further one asks whether to stop it now.
void CQuenloDlg::CloseDuringRomTransfer() {
    if (!close_after_transfer_) {
        close_after_transfer_ = true;
        ui_.ConsolePrint("ROM転送が終わってから終了します\r\n");
        return;
    }
    if (stop_question_) return;  // already asking
    QMessageBox box(QMessageBox::Question, "確認",
                    "ROM転送を今すぐ中止しますか？\n\n"
                    "中止すると、ボードのROMには完全なプログラムが残りません。"
                    "もう一度ROM転送するか、保存しておいたROMを"
                    "「ファイルからROMへ書き戻す...」で書き戻すと元に戻せます。",
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    stop_question_ = &box;
    const int answer = box.exec();
    stop_question_ = nullptr;
    if (answer == QMessageBox::Yes && rom_transfer_) link_worker_.RequestStop();
}

bool CQuenloDlg::SessionEnding() {
    // Only the first request: nobody may be there to answer the question.
    if (rom_transfer_) {
        if (!close_after_transfer_) CloseDuringRomTransfer();
        return true;
    }
    close();
    return isVisible();
}
