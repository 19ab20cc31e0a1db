// The About box: the program icon, name, version and date, and a notice.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent);
};

namespace quenlo::qt {
// The window's icon, drawn for Quenlo.
QIcon ProgramIcon();
// The context-menu item that opens the About box.
inline constexpr const char* kAboutItem = "バージョン情報 Quenlo(&A)...";
}  // namespace quenlo::qt
