#pragma once

#include <QByteArray>
#include <QStandardPaths>
#include <QTemporaryDir>

// Points HOME and the XDG state folder at a fresh temporary directory and
// turns on the standard paths' test mode for as long as it lives, so per-user
// files (the cache, the support log's folder) land in scratch space and never
// in the real home of whoever runs the tests.
class ScratchHome
{
public:
    ScratchHome()
        : home_variable_("HOME", home_.path())
        , state_variable_("XDG_STATE_HOME", home_.path() + "/.local/state")
    {
        QStandardPaths::setTestModeEnabled(true);
    }
    // Not copyable, as its temporary directory is not.

    bool isValid() const { return home_.isValid(); }
    QString path() const { return home_.path(); }

private:
    // An environment variable set for the scratch home's lifetime and then
    // put back as it was.
    class Override
    {
    public:
        Override(const char* name, const QString& value)
            : name_(name), saved_(qgetenv(name)), was_set_(qEnvironmentVariableIsSet(name))
        {
            qputenv(name_, value.toLocal8Bit());
        }
        ~Override() { was_set_ ? qputenv(name_, saved_) : qunsetenv(name_); }

    private:
        const char* name_;
        QByteArray saved_;
        bool was_set_;
    };

    QTemporaryDir home_;
    Override home_variable_;
    Override state_variable_;
};
