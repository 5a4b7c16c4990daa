#include <cstdio>

#include <QApplication>

#include "mainwindow.h"

int main(int argc, char* argv[])
{
    // The link's diagnostic lines reach a file or a pipe as they happen, so a
    // log captured for support is complete even when the program is killed.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
