#include <cstdio>

#include <QApplication>

#include "mainwindow.h"
#include "support_log.h"

int main(int argc, char* argv[])
{
    // The link's diagnostic lines reach a file or a pipe as they happen, so a
    // log captured for support is complete even when the program is killed.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    QApplication app(argc, argv);
    // Declared before the window, so it still takes the window's last lines.
    SupportLog supportLog(supportLogDirectory());
    MainWindow window;
    window.show();
    return app.exec();
}
