// The client receiving a 16 MiB message with "Full recvd msg" on, once in
// each view: how long the window's own thread is busy (a 10 ms timer on it
// measures how late it runs), how long until the message is shown, and the
// growth of the process's peak resident set. A raw HSMS peer in the process
// sends the message: a list of 2 796 202 U4 items, 16 MiB of body.
// For the SML view it also times the driver's NextMessageSML alone on a
// second copy of the message, for the driver's share of that view's cost.
//
//   large_message [elements|bytes|sml]...   (default: all three)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/command_line.h"
#include "client/companion_windows.h"
#include "client/main_window.h"
#include "driver/hsms/hsms_header.h"
#include "platform/com/bstr.h"
#include "tests/component/driver_env.h"
#include "tests/hsms/hsms_peer.h"

namespace {

using namespace tarvo;
using hsms_test::Bytes;

long peak_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// L of U4 items filling 16 MiB exactly.
Bytes big_body() {
    const uint32_t n = ((1u << 24) - 4) / 6;
    Bytes body{0x03, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    body.reserve(1u << 24);
    for (uint32_t i = 0; i < n; ++i) {
        body.insert(body.end(), {0xB1, 0x04, static_cast<uint8_t>(i >> 24), static_cast<uint8_t>(i >> 16),
                                 static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
    }
    return body;
}

bool output_has(const client::MainWindow& w, const QString& needle, int count) {
    auto* list = w.findChild<QListWidget*>("output");
    int n = 0;
    for (int i = 0; i < list->count(); ++i) n += client::list_line_text(list->item(i)).contains(needle);
    return n >= count;
}

}  // namespace

int main(int argc, char** argv) {
    namespace cli = tarvo::command_line;
    cli::help_if_asked(argc, argv,
                       "usage: large_message [elements|bytes|sml]...\n"
                       "The client receives a 16 MiB message with \"Full recvd msg\" on in each view given\n"
                       "(default: all three) and prints how long its window's thread was busy, the time\n"
                       "until the message was shown and the growth of the peak resident set.\n");
    std::vector<std::string> views;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "elements") != 0 && std::strcmp(argv[i], "bytes") != 0 &&
            std::strcmp(argv[i], "sml") != 0)
            cli::fail(argv[0], std::string("unknown view '") + argv[i] + "'");
        views.push_back(argv[i]);
    }
    if (views.empty()) views = {"elements", "bytes", "sml"};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    test::register_component();

    const Bytes body = big_body();
    hsms_test::Listener listener;
    client::MainWindow window(std::vector<std::string>{TARVO_CATALOGUE_DIR});
    const int port = listener.port();
    window.runner = [port](QDialog& d) -> int {
        if (d.objectName() == "line_type_selector") return ltHSMS;
        if (d.objectName() == "hsms_settings") {
            d.findChild<QRadioButton*>("active")->setChecked(true);
            d.findChild<QLineEdit*>("port")->setText(QString::number(port));
        }
        return QDialog::Accepted;
    };
    if (!window.start()) return 1;
    // No log records for the benchmark: only the window and the driver's work.
    window.driver()->SetLogAdjust(4096);
    window.toggle_start();
    hsms_test::Peer peer;
    std::thread select([&] {
        peer = listener.accept(5000);
        if (auto request = peer.read_header(5000)) {
            hsms::Header rsp = *request;
            rsp[7] = 0;
            rsp[9] = 2;  // Select.rsp, accepted
            peer.send(rsp);
        }
    });
    QElapsedTimer wait;
    wait.start();
    while (window.calls_running() > 0 && wait.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    select.join();
    window.findChild<QCheckBox*>("full_received")->click();

    int received = 0;
    uint16_t transaction = 1;
    for (const std::string& view : views) {
        const char* button = view == "sml" ? "view_sml" : view == "bytes" ? "view_bytes" : "view_elements";
        window.received_window()->findChild<QRadioButton*>(button)->setChecked(true);
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        reset_peak();
        const long before = peak_kib();
        // The window's thread is late by as much as it was busy.
        QElapsedTimer tick;
        long long busy = 0, longest = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        tick.start();
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const long long gap = tick.restart();
            if (gap > 10) busy += gap - 10;
            longest = std::max(longest, gap);
        });
        probe.start(10);
        QElapsedTimer shown;
        shown.start();
        const hsms::Header h = hsms_test::data_header(0xFFFF, 6, 11, false, 0, transaction++,
                                                      static_cast<uint32_t>(body.size()));
        std::thread sender([&] {
            peer.send(h);
            peer.send(body);
        });
        ++received;
        while (!output_has(window, "received S6F11", received) && shown.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const long long took = shown.elapsed();
        sender.join();
        probe.stop();
        const long after = peak_kib();
        std::printf("%-8s shown after %6lld ms; window's thread busy %5lld ms, longest stall %4lld ms; peak RSS +%ld MiB\n",
                    view.c_str(), took, busy, longest, (after - before) / 1024);
        std::fflush(stdout);
    }
    // The driver's share of the SML view: NextMessageSML alone on a copy.
    {
        auto driver = test::create_driver();
        hsms_test::Listener second;
        driver->SetLineType(ltHSMS);
        driver->SetConnectionMode(cmACTIVE);
        driver->SetPort(second.port());
        driver->SetLogAdjust(4096);
        std::thread answer([&] {
            hsms_test::Peer p = second.accept(5000);
            if (auto request = p.read_header(5000)) {
                hsms::Header rsp = *request;
                rsp[7] = 0;
                rsp[9] = 2;
                p.send(rsp);
            }
            p.send(hsms_test::data_header(0xFFFF, 6, 11, false, 0, 1, static_cast<uint32_t>(body.size())));
            p.send(body);
            std::this_thread::sleep_for(std::chrono::seconds(3));
        });
        LONG status = 0;
        driver->SetActive(1, &status);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        QElapsedTimer t;
        t.start();
        BSTR text = nullptr;
        driver->NextMessageSML(&text);
        const long long ms = t.elapsed();
        std::printf("driver alone: NextMessageSML of the same message %lld ms (%zu characters)\n", ms,
                    text ? static_cast<size_t>(SysStringLen(text)) : size_t{0});
        SysFreeString(text);
        answer.join();
        driver->SetActive(0, &status);
    }
    window.done(QDialog::Accepted);
    return 0;
}
