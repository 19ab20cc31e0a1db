#include <QtGlobal>
#include <csignal>
#include <string_view>

#include "mviewer.h"
#include "quenlo/platform.h"
#include "quenlo_app.h"

namespace {

// Asked for its help or version only, the program needs no display (a shell
// over ssh, a package check): Qt's offscreen platform lets it answer instead
// of aborting for want of one.
bool AnswersOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    quenlo::EnsureStandardStreams();
    // A terminal's pipe that closes ends the echo of the console, not the
    // program (and not a ROM transfer under way).
    std::signal(SIGPIPE, SIG_IGN);
    if (AnswersOnly(argc, argv) && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    CMviewer::RequestCompatibilityContext();  // before the application exists
    CQuenloApp app(argc, argv);
    return app.Run();
}
