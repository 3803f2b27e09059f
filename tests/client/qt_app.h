// The one QApplication of a client test program, created on first use on the
// offscreen platform (no display needed), and a helper that runs the event
// loop until a condition holds.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QThread>

#include "client/message_boxes.h"

namespace tarvo::client_test {

inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "client_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's list of input devices before the application: it then outlives
    // the application, whose keyboard device (made by the first key event)
    // leaves that list as the application goes at exit.
    (void)QInputDevice::devices();
    static QApplication app(argc, argv);
    return app;
}

// Runs posted events until `done` holds or `ms` have passed.
inline bool pump_until(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Message boxes recorded instead of shown, while the object lives.
class RecordedBoxes : public client::MessageBoxes {
public:
    RecordedBoxes() { install(this); }
    ~RecordedBoxes() override { install(nullptr); }
    void show(const std::string& text, const std::string& caption, QWidget*) override {
        shown.push_back(caption + ": " + text);
    }
    std::vector<std::string> shown;
};

}  // namespace tarvo::client_test
