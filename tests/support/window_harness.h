#pragma once

// Drives the real main window against the simulated unit: starts it and
// waits for the start-up to settle, reaches widgets by object name, answers
// modal dialogs, and reads back what the unit received. Header-only, so the
// window suites need nothing beyond what they already link.

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include "EFIS_shared/comms_types.h"
#include "mainwindow.h"
#include "simulated_unit.h"

namespace harness {

// Generous: a start-up with a silent unit waits out several read time-outs.
const int kStatusWaitMs = 60000;
const char* const kLoadedStatus = "Configuration successfully loaded from device";

inline QString statusText(const MainWindow& window) { return window.statusBar()->currentMessage(); }

inline bool waitForStatus(const MainWindow& window, const QString& status)
{
    return QTest::qWaitFor([&] { return statusText(window) == status; }, kStatusWaitMs);
}

// The load's status, with or without its note on values the form adjusted.
inline bool waitForLoaded(const MainWindow& window)
{
    return QTest::qWaitFor([&] { return statusText(window).startsWith(QLatin1String(kLoadedStatus)); }, kStatusWaitMs);
}

// A shown window; it connects to the unit, and loads its settings, from the
// event loop.
inline std::unique_ptr<MainWindow> startWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    return window;
}

// A widget of the window by its object name; a missing one ends the run,
// since every later step would only fail less clearly.
template <typename Widget>
Widget* child(const QObject& window, const char* name)
{
    if (Widget* widget = window.findChild<Widget*>(QLatin1String(name)))
        return widget;
    qFatal("no widget named %s of the expected class", name);
}

// Answers every modal dialog that opens while it lives, recording each box's
// title and text in order; a dialog still open at the end is rejected.
class ModalAnswers
{
public:
    explicit ModalAnswers(std::function<void(QWidget*)> answer) : answer_(std::move(answer))
    {
        QObject::connect(&poll_, &QTimer::timeout, [this] { answerOpenDialog(); });
        poll_.start(kPollMs);
    }
    ~ModalAnswers()
    {
        poll_.stop();
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    }
    ModalAnswers(const ModalAnswers&) = delete;
    ModalAnswers& operator=(const ModalAnswers&) = delete;

    QStringList titles;
    QStringList texts;

private:
    static const int kPollMs = 5;

    void answerOpenDialog()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == last_)
            return;
        last_ = modal;
        titles.append(modal->windowTitle());
        auto* box = qobject_cast<QMessageBox*>(modal);
        texts.append(box != nullptr ? box->text() : QString());
        answer_(modal);
    }

    std::function<void(QWidget*)> answer_;
    QTimer poll_;
    QPointer<QWidget> last_;
};

// ---- What the unit received ------------------------------------------------

inline std::vector<COMMS_MSG_t> framesWithId(uint32_t can_id)
{
    std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    auto other = [=](const COMMS_MSG_t& frame) { return frame.can_ID != can_id; };
    frames.erase(std::remove_if(frames.begin(), frames.end(), other), frames.end());
    return frames;
}

// True when the frame carries exactly the expected identifier, length code
// and all 64 data bytes.
inline bool sameFrame(const COMMS_MSG_t& actual, const COMMS_MSG_t& expected)
{
    return actual.can_ID == expected.can_ID && actual.msg_len == expected.msg_len
           && memcmp(actual.data, expected.data, sizeof actual.data) == 0;
}

inline COMMS_MSG_t settingsWriteFrame(uint8_t index, uint32_t value)
{
    COMMS_MSG_t frame = sim::make_frame(0x390, CAN_5_BYTES, {index});
    put_u32_le(&frame.data[1], value);
    return frame;
}

// ---- Log lines ---------------------------------------------------------------

// True when a debug line of the log handler carries exactly this message.
inline bool hasDebugLine(const QStringList& lines, const QString& message)
{
    const QString start = QStringLiteral("Debug: ") + message + QStringLiteral(" (");
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(start); });
}

} // namespace harness
