#include "mviewer.h"
#include "quenlo_app.h"

int main(int argc, char** argv) {
    CMviewer::RequestCompatibilityContext();  // before the application exists
    CQuenloApp app(argc, argv);
    return app.Run();
}
