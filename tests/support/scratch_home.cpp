#include "scratch_home.h"

#include <QStandardPaths>

ScratchHome::Override::Override(const char* name, const QString& value)
    : name_(name), saved_(qgetenv(name)), was_set_(qEnvironmentVariableIsSet(name))
{
    qputenv(name_, value.toLocal8Bit());
}

ScratchHome::Override::~Override()
{
    if (was_set_)
        qputenv(name_, saved_);
    else
        qunsetenv(name_);
}

ScratchHome::ScratchHome()
    : home_variable_("HOME", home_.path()), state_variable_("XDG_STATE_HOME", home_.path() + "/.local/state")
{
    QStandardPaths::setTestModeEnabled(true);
}

ScratchHome::~ScratchHome() = default;

bool ScratchHome::isValid() const
{
    return home_.isValid();
}

QString ScratchHome::path() const
{
    return home_.path();
}
