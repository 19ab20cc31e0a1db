#include "about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>

#include "control_ids.h"
#include "quenlo/version.h"

namespace quenlo::qt {

QIcon ProgramIcon() {
    return QIcon(":/quenlo/quenlo.png");
}

}  // namespace quenlo::qt

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("バージョン情報 Quenlo");
    setWindowIcon(quenlo::qt::ProgramIcon());
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(quenlo::qt::ProgramIcon().pixmap(48, 48));
    auto* name =
        new QLabel(QString("Quenlo Version %1 (%2)").arg(QUENLO_VERSION, QUENLO_DATE), this);
    name->setObjectName(QString("ctl%1").arg(quenlo::qt::kAboutVersionId));
    auto* notice = new QLabel(
        "RCB-4HV と ICS サーボのロボットのための\n"
        "モーション変換・再生・ROM転送ツール",
        this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(name, 0, 1);
    grid->addWidget(notice, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}
