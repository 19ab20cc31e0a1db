// CQuenloApp: the program. It reads the command line, shows the main window
// and runs until the window closes.
#pragma once

#include <QApplication>
#include <QString>
#include <string>
#include <vector>

namespace quenlo::qt {

// `quenlo [--port DEV] [MODEL.bac|SCENE.glb] [MOTION.tra...]`: the files go in
// as drops, the models' (and scenes') first, then the rest in order; the port
// is chosen as if typed into the port list.
struct StartupRequest {
    std::vector<std::string> models;
    std::vector<std::string> motions;
    QString port;
};
StartupRequest SortStartupFiles(const std::vector<std::string>& files, const QString& port);

// Qt's own texts (the question box's buttons, the file dialog) in Japanese, as
// the rest of the window; English stays where the translations are missing.
void InstallQtTranslations(QCoreApplication& app);

}  // namespace quenlo::qt

class CQuenloDlg;

class CQuenloApp : public QApplication {
  public:
    CQuenloApp(int& argc, char** argv);
    // The exit status: 0 once the window has closed, 2 for a bad command line.
    int Run();
};
