// The main window with the real driver, for the window tests: a passive
// equipment object in the same process, the window's own HSMS line, and
// helpers to read the output list and wait for lines in it.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/companion_windows.h"
#include "client/main_window.h"
#include "driver/log/notify_code.h"
#include "tests/client/qt_app.h"
#include "tests/component/driver_env.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::client_test {

using namespace std::chrono_literals;
using ::BstrHolder;
using test::DriverSide;
using test::RecordingSink;

// The output list's lines without their time stamps.
inline std::vector<std::string> output_of(const client::MainWindow& window) {
    std::vector<std::string> lines;
    auto* list = window.findChild<QListWidget*>("output");
    for (int i = 0; i < list->count(); ++i) {
        const std::string line = client::list_line_text(list->item(i)).toStdString();
        lines.push_back(line.size() > 22 ? line.substr(22) : line);
    }
    return lines;
}

inline int count_of(const client::MainWindow& window, const std::string& line) {
    int n = 0;
    for (const std::string& l : output_of(window)) n += l == line;
    return n;
}

// Answers the window's dialogs: the line type, and an HSMS dialog set to
// `mode` on `port` with `edit` for anything else.
inline client::DialogRunner hsms_runner(int port, const char* mode = "active",
                                        std::function<void(QDialog&)> edit = {}) {
    return [port, mode, edit](QDialog& d) -> int {
        if (d.objectName() == "line_type_selector") return ltHSMS;
        if (d.objectName() == "hsms_settings") {
            d.findChild<QRadioButton*>(mode)->setChecked(true);
            d.findChild<QLineEdit*>("port")->setText(QString::number(port));
        }
        if (edit) edit(d);
        return QDialog::Accepted;
    };
}

// A passive equipment object on `port`.
inline void start_equipment(DriverSide& equipment, int port) {
    equipment.driver = test::create_driver();
    ASSERT_TRUE(equipment.driver);
    equipment.sink = RecordingSink::create("equipment");
    equipment.cookie = equipment.sink->advise_on(equipment.driver.get());
    ITarvo* e = equipment.driver.get();
    e->SetLineType(ltHSMS);
    e->SetConnectionMode(cmPASSIVE);
    e->SetPort(port);
    e->SetMaster(1);
    LONG status = 0;
    e->SetActive(1, &status);
    ASSERT_EQ(status, 1);
}

inline std::unique_ptr<client::MainWindow> make_window() {
    return std::make_unique<client::MainWindow>(std::vector<std::string>{TARVO_CATALOGUE_DIR});
}

// The main window on an active HSMS line to an equipment object (passive)
// in the same process.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        qt_app();
        test::register_component();
        port_ = test::free_port();
        start_equipment(equipment, port_);
        window = make_window();
        window->runner = hsms_runner(port_);
        ASSERT_TRUE(window->start());
        window->toggle_start();
        ASSERT_TRUE(equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassivePlus, 1, 3s));
        ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }));
    }
    void TearDown() override {
        window.reset();
        equipment.release();
    }

    std::vector<std::string> output() const { return output_of(*window); }
    bool output_has(const std::string& line) const {
        return pump_until([&] { return count_of(*window, line) > 0; });
    }
    int entry_of(const std::string& name) const {
        for (size_t i = 0; i < window->catalogue().size(); ++i) {
            const auto& e = window->catalogue().entry(i);
            if ("S" + std::to_string(e.stream) + "F" + std::to_string(e.function) + (e.reply_expected ? "W" : "") ==
                name)
                return static_cast<int>(i);
        }
        return -1;
    }
    void equipment_sends(const std::string& text) {
        BstrHolder t(text);
        ASSERT_EQ(equipment.driver->SendMessage(t.get()), S_OK);
    }

    int port_ = 0;
    DriverSide equipment;
    std::unique_ptr<client::MainWindow> window;
};

}  // namespace tarvo::client_test
