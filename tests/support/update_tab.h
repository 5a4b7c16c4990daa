#pragma once

// What the Device Updates tab suites share: firmware images, the file
// dialog answered with a path, a message box answered, the application's
// event loop run as the program runs it, and the flash read back.

#include <QByteArray>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstring>

#include "EFIS_shared/firmware.h"
#include "flash_test_support.h"
#include "mainwindow.h"
#include "window_harness.h"

namespace updates {

const uint32_t kBank1Address = 0x03400000;

// A firmware image: the 64-byte header, then `payload_size` bytes that
// differ from their neighbours.
inline QByteArray firmwareImage(uint32_t payload_size, int seed)
{
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.magic = 0x57464B43;
    header.version = 0x01040000;
    header.total_size = uint32_t(sizeof header) + payload_size;
    header.plaintext_size = payload_size;
    header.encrypted_size = payload_size;
    header.offset = uint32_t(sizeof header);
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header) + patternBytes(int(payload_size), seed);
}

inline QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Picks `path` in the open file dialog.
inline void chooseFile(QWidget* modal, const QString& path)
{
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr)
        qFatal("expected a file dialog, found %s", modal->metaObject()->className());
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
}

inline void clickBoxButton(QWidget* modal, QMessageBox::StandardButton button)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr)
        qFatal("expected a message box, found %s", modal->metaObject()->className());
    box->button(button)->click();
}

// What the application's event loop ran into.
enum LoopEnd {
    LOOP_QUIT = 0,      // the program asked the application to quit
    LOOP_CONDITION = 1, // the awaited condition came true while the program kept running
    LOOP_TIMED_OUT = 2,
};

// Runs the application's event loop, as the program does, until the program
// quits it or `done` comes true.
template <typename Condition> LoopEnd runApplicationUntil(Condition done)
{
    const int kPollMs = 5;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            QCoreApplication::exit(LOOP_CONDITION);
    });
    poll.start(kPollMs);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(LOOP_TIMED_OUT); });
    guard.start(harness::kStatusWaitMs);
    return LoopEnd(QCoreApplication::exec());
}

} // namespace updates
