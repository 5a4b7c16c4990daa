#include "scratch_home.h"

#include <QStandardPaths>

ScratchHome::ScratchHome() : saved_home_(qgetenv("HOME")), had_home_(qEnvironmentVariableIsSet("HOME"))
{
    qputenv("HOME", home_.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

ScratchHome::~ScratchHome()
{
    if (had_home_)
        qputenv("HOME", saved_home_);
    else
        qunsetenv("HOME");
}

bool ScratchHome::isValid() const
{
    return home_.isValid();
}

QString ScratchHome::path() const
{
    return home_.path();
}
