// The desktop view's tests run on Qt's offscreen platform: no display is
// needed, and the widgets behave as on a screen.
#include <QApplication>

#include <gtest/gtest.h>

#include "desktop/DesktopSession.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1"); // the dispatcher the gateway runs on (DesktopSession)
    QApplication application(argc, argv);
    vantor::desktop::SetUpApplicationLook();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
