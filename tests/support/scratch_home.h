#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// Points HOME and the XDG state folder at a fresh temporary directory and
// turns on the standard paths' test mode for as long as it lives, so per-user
// files (the cache, the support log's folder) land in scratch space and never
// in the real home of whoever runs the tests.
class ScratchHome
{
public:
    ScratchHome();
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    bool isValid() const;
    QString path() const;

private:
    // An environment variable set for the scratch home's lifetime and then
    // put back as it was.
    class Override
    {
    public:
        Override(const char* name, const QString& value);
        ~Override();

    private:
        const char* name_;
        QByteArray saved_;
        bool was_set_;
    };

    QTemporaryDir home_;
    Override home_variable_;
    Override state_variable_;
};
