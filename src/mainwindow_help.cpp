// MainWindow: the Help menu, with the folder of the support log and the
// About box.

#include "mainwindow.h"

#include <hidapi.h>

#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QUrl>

#include "efis_version.h"
#include "firmware_manifest.h"
#include "support_log.h"
#include "ui_mainwindow.h"

void MainWindow::connectHelpMenu()
{
    connect(ui->actionOpenLogFolder, &QAction::triggered, this, &MainWindow::onOpenLogFolderTriggered);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::onAboutTriggered);
}

// The folder is made first, so it opens even before the log's first line.
// Without a file manager the user is at least told where the log is.
void MainWindow::onOpenLogFolderTriggered()
{
    const QString folder = supportLogDirectory();
    QDir().mkpath(folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        QMessageBox::information(this, tr("Open Log Folder"), tr("The log is kept in %1").arg(folder));
}

// What support asks first: which program, which manifest, which libraries.
void MainWindow::onAboutTriggered()
{
    QMessageBox::about(this, tr("About Corvane EFIS Config"),
                       tr("Corvane EFIS Config %1\nDownloads manifest: %2\nQt %3\nhidapi %4")
                           .arg(QStringLiteral(EFIS_VERSION), firmwareManifestUrl(), QString::fromLatin1(qVersion()),
                                QString::fromLatin1(hid_version_str())));
}
