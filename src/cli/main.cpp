// efis-cli: the command line beside the window, over the same core.

#include <QCoreApplication>

#include "cli.h"
#include "efis_version.h"

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(EFIS_VERSION));
    return cli::run(QCoreApplication::arguments(), defaultManifestSources());
}
