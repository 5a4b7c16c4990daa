// The Help menu: About names the program's version, the manifest address and
// the libraries in use; Open Log Folder hands the support log's folder, made
// if missing, to the desktop.

#include <QtTest>

#include <hidapi.h>

#include <QAction>
#include <QDesktopServices>
#include <QMessageBox>

#include "efis_version.h"
#include "firmware_manifest.h"
#include "scratch_home.h"
#include "support_log.h"
#include "window_harness.h"

namespace {

// Takes the place of the desktop's file manager.
class FolderOpener : public QObject
{
    Q_OBJECT

public slots:
    void open(const QUrl& url) { opened.append(url); }

public:
    QList<QUrl> opened;
};

} // namespace

class TestHelpMenu : public QObject
{
    Q_OBJECT

private slots:
    void aboutNamesVersionManifestAndLibraries();
    void openLogFolderOpensTheLogsFolder();
};

void TestHelpMenu::aboutNamesVersionManifestAndLibraries()
{
    ScratchHome home;
    auto window = harness::startWindow();
    QVERIFY(harness::waitForStatus(*window, harness::kLoadedStatus));
    QString text;
    harness::ModalAnswers about([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        text = box->text();
        box->accept();
    });
    harness::child<QAction>(*window, "actionAbout")->trigger();
    QCOMPARE(about.titles.value(0), QString("About Corvane EFIS Config"));
    QCOMPARE(text, QString("Corvane EFIS Config " EFIS_VERSION "\nDownloads manifest: %1\nQt %2\nhidapi %3")
                       .arg(firmwareManifestUrl(), qVersion(), HID_API_VERSION_STR " (simulated)"));
}

void TestHelpMenu::openLogFolderOpensTheLogsFolder()
{
    ScratchHome home;
    FolderOpener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    auto window = harness::startWindow();
    QVERIFY(harness::waitForStatus(*window, harness::kLoadedStatus));
    harness::child<QAction>(*window, "actionOpenLogFolder")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    const QString folder = home.path() + "/.local/state/" + QCoreApplication::applicationName();
    QCOMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
    QVERIFY(QFileInfo(folder).isDir());
}

QTEST_MAIN(TestHelpMenu)
#include "tst_help_menu.moc"
