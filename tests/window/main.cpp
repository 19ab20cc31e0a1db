// The window tests need a display (xvfb-run gives them one) and one
// QApplication for all of them.
#include <gtest/gtest.h>

#include <QApplication>

#include "mviewer.h"
#include "quenlo_app.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CMviewer::RequestCompatibilityContext();
    QApplication app(argc, argv);
    quenlo::qt::InstallQtTranslations(app);  // as the program does
    return RUN_ALL_TESTS();
}
