#include "quenlo_app.h"

#include <QCommandLineParser>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "about_dlg.h"
#include "close_signals.h"
#include "dialog_units.h"
#include "drop_targets.h"
#include "quenlo/version.h"
#include "quenlo_dlg.h"

namespace quenlo::qt {

StartupRequest SortStartupFiles(const std::vector<std::string>& files, const QString& port) {
    StartupRequest request;
    request.port = port;
    for (std::string path : files) {
        if (path.size() > kDroppedPathLimit) path.resize(kDroppedPathLimit);  // as a drop reads it
        const bool model =
            path.ends_with(".bac") || path.ends_with(".BAC") || quenlo::IsSceneFile(path);
        (model ? request.models : request.motions).push_back(std::move(path));
    }
    return request;
}

void InstallQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    else
        delete translator;
}

}  // namespace quenlo::qt

CQuenloApp::CQuenloApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("quenlo");
    setApplicationDisplayName("Quenlo");
    setApplicationVersion(QUENLO_VERSION);
    setWindowIcon(quenlo::qt::ProgramIcon());
    setFont(quenlo::qt::DialogFont());
    quenlo::qt::InstallQtTranslations(*this);
}

int CQuenloApp::Run() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Converts BAC6 models and TRA4 motions for the RCB-4HV board, plays them and writes "
        "them to its ROM.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(
        {"p", "port"}, "Connect to the board on DEV (a name under /dev or a path).", "DEV");
    parser.addOption(port);
    parser.addPositionalArgument(
        "files",
        "A model (.bac, or a glTF scene to import: .glb, .gltf) and motions (.tra), as if dropped.",
        "[MODEL.bac|SCENE.glb] [MOTION.tra...]");
    if (!parser.parse(arguments())) {
        std::fprintf(stderr, "quenlo: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet("help")) parser.showHelp(0);
    if (parser.isSet("version")) {  // with the build date, as the About box shows it
        std::printf("quenlo %s (%s)\n", QUENLO_VERSION, QUENLO_DATE);
        return 0;
    }

    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments()) {
        const QByteArray bytes = QFile::encodeName(file);
        files.emplace_back(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    const quenlo::qt::StartupRequest request =
        quenlo::qt::SortStartupFiles(files, parser.value(port));

    CQuenloDlg dialog;
    // Ctrl-C, kill and a closing terminal ask the window to close, as its close
    // button does: a ROM transfer on its way finishes first.
    const quenlo::qt::CloseSignals on_signals([&dialog](int) { dialog.close(); });
    // So does the desktop session ending. A ROM transfer on its way keeps the
    // window, and the session's end is cancelled where the session manager
    // lets the program interact (otherwise it ends the program regardless).
    QObject::connect(this, &QGuiApplication::commitDataRequest, &dialog,
                     [&dialog](QSessionManager& manager) {
                         if (dialog.SessionEnding() && manager.allowsInteraction()) {
                             manager.cancel();
                             manager.release();
                         }
                     });
    dialog.show();
    // Once the window is up, as the operator would: the drops, then the port.
    QTimer::singleShot(0, &dialog, [&dialog, &request] { dialog.Start(request); });
    dialog.exec();
    return 0;
}
