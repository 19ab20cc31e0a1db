#include <csignal>

#include "mviewer.h"
#include "quenlo_app.h"

int main(int argc, char** argv) {
    // A terminal's pipe that closes ends the echo of the console, not the
    // program (and not a ROM transfer under way).
    std::signal(SIGPIPE, SIG_IGN);
    CMviewer::RequestCompatibilityContext();  // before the application exists
    CQuenloApp app(argc, argv);
    return app.Run();
}
