#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// Points HOME at a fresh temporary directory and turns on the standard paths'
// test mode for as long as it lives, so per-user files (the cache among them)
// land in scratch space and never in the real home of whoever runs the tests.
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
    QTemporaryDir home_;
    QByteArray saved_home_;
    bool had_home_;
};
