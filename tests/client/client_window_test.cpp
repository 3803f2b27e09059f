// The client with the real driver: the driver connection (creation, events,
// removal order) and the main window against a second driver object as the
// equipment over loopback HSMS: sending from the catalogue, auto reply, and
// the three views of a received message.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "client/companion_windows.h"
#include "client/main_window.h"
#include "driver/log/notify_code.h"
#include "tests/client/qt_app.h"
#include "tests/component/driver_env.h"
#include "tests/component/loopback_pair.h"
#include "tests/client/window_fixture.h"

namespace tarvo::client_test {
namespace {

class RecordingClient : public client::DriverClient {
public:
    void OnDriverEvent(int index, int code) override {
        std::lock_guard<std::mutex> lock(mutex);
        events.emplace_back(index, code);
    }
    std::mutex mutex;
    std::vector<std::pair<int, int>> events;
};

class Connection : public ::testing::Test {
protected:
    Connection() { test::register_component(); }
};

TEST_F(Connection, EventsBecomeCodesAndNoLineTypeMeansNone) {
    RecordingClient client;
    client.AddConnection(ltNone);
    client.AddConnection(ltHSMS);
    enum_SECS_LINE_TYPE type = ltHSMS;
    client.connection(0)->driver()->GetLineType(&type);
    EXPECT_EQ(type, ltNone);
    client.connection(1)->driver()->GetLineType(&type);
    EXPECT_EQ(type, ltHSMS);
    // The sink as the driver calls it.
    client::DriverConnection* sink = client.connection(1);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    DISPPARAMS one{&arg, nullptr, 1, 0};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const struct {
        DISPID id;
        LONG value;
        int code;
    } rows[] = {{1, 0, nSecsReservedRead}, {3, 7, nSecsReservedWrittenTrue}, {3, 0, nSecsReservedWrittenFalse},
                {2, 52, 52}, {2, 12, 12}};
    for (const auto& r : rows) {
        arg.lVal = r.value;
        EXPECT_EQ(sink->Invoke(r.id, IID_NULL, 0, DISPATCH_METHOD, r.id == 1 ? &none : &one, nullptr, nullptr,
                               nullptr),
                  S_OK);
    }
    std::vector<std::pair<int, int>> want;
    for (const auto& r : rows) want.emplace_back(1, r.code);
    EXPECT_EQ(client.events, want);
    EXPECT_EQ(client.RemoveConnection(2), -1);
    EXPECT_EQ(client.connection_count(), 2u);
    EXPECT_EQ(client.RemoveConnection(0), 0);
    EXPECT_EQ(client.connection_count(), 1u);
}

TEST_F(Connection, RemovingAnActiveConnectionDeactivatesFirst) {
    const std::string log = "/tmp/tarvo-client-removal-" + std::to_string(::getpid()) + ".log";
    {
        RecordingClient client;
        client.AddConnection(ltHSMS);
        ITarvo* d = client.connection(0)->driver();
        BstrHolder name(log);
        d->SetLogFileName(name.get());
        d->SetConnectionMode(cmPASSIVE);
        d->SetPort(test::free_port());
        LONG status = 0;
        d->SetActive(1, &status);
        ASSERT_EQ(status, 1);
        client.connection(0)->active = true;
        client.RemoveAll();
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string records = text.str();
    std::remove(log.c_str());
    const size_t deactivated = records.find("__SERV: SetActive = '0'");
    const size_t removed = records.find("__SERV: SetLineType = 'remove'");
    ASSERT_NE(deactivated, std::string::npos) << records;
    ASSERT_NE(removed, std::string::npos) << records;
    EXPECT_LT(deactivated, removed);
}

// A serial line whose port does not exist: "Start" reports it and stays
// "Start"; the description window shows two-digit streams with one tab.
TEST_F(Connection, ASerialPortThatCannotOpenAndTheDescriptionOfStream10) {
    qt_app();
    client::MainWindow window(std::vector<std::string>{TARVO_CATALOGUE_DIR});
    window.runner = [](QDialog& d) -> int {
        if (d.objectName() == "line_type_selector") return ltSECSI;
        d.findChild<QLineEdit*>("port")->setText("999");
        return QDialog::Accepted;
    };
    ASSERT_TRUE(window.start());
    EXPECT_EQ(window.findChild<QLabel*>("line_type")->text(), "SECS-I");
    auto* output = window.findChild<QListWidget*>("output");
    for (int press = 0; press < 2; ++press) {
        window.toggle_start();
        EXPECT_EQ(window.findChild<QPushButton*>("start")->text(), "Stop") << "while the opening runs";
        ASSERT_TRUE(pump_until([&] { return window.calls_running() == 0; }));
        // The driver's notification, then the result of the call.
        ASSERT_EQ(output->count(), 2 * press + 2);
        EXPECT_TRUE(client::list_line_text(output->item(2 * press)).endsWith("   Error while trying to open port"));
        EXPECT_TRUE(client::list_line_text(output->item(2 * press + 1)).endsWith("   port could not be opened"));
        EXPECT_EQ(window.findChild<QPushButton*>("start")->text(), "Start");
    }
    for (size_t i = 0; i < window.catalogue().size(); ++i) {
        if (window.catalogue().entry(i).stream == 10) {
            window.select_entry(static_cast<int>(i));
            break;
        }
    }
    EXPECT_EQ(client::list_line_text(window.description_window()->list()->item(4)),
              "Stream 10:\tTerminal Services");
}

TEST_F(Window, SendFromTheCatalogueAndSeeTheAnswer) {
    ITarvo* e = equipment.driver.get();
    equipment.sink->set_hook([e](const RecordingSink::Event& ev) {
        if (ev.id != DISPID_OnSecsRead) return;
        e->NextMessage();
        BstrHolder reply("S1F2 <L <A 'EQ'> <A '2.0'>>");
        e->Reply(reply.get());
    });
    window->select_entry(entry_of("S1F1W"));
    window->send_message();
    window->send_message();
    EXPECT_TRUE(output_has("message was sent successfully"));
    EXPECT_TRUE(output_has("received S1F2"));
    // Two sends: transaction ids 3 and 4.
    EXPECT_EQ(window->shared().transaction, 4);
    EXPECT_EQ(window->findChild<QLineEdit*>("last_sent")->text(), "S1F1W");
    auto* short_list = window->findChild<QListWidget*>("short_description");
    ASSERT_EQ(short_list->count(), 2);
    EXPECT_EQ(client::list_line_text(short_list->item(1)), "Are You There Request");
    auto* description = window->description_window()->list();
    ASSERT_GE(description->count(), 7);
    EXPECT_EQ(client::list_line_text(description->item(4)), "Stream 1:\t\tEquipment Status");
}

TEST_F(Window, AutoReplyAnswersFromTheCatalogueOrWithFunctionZero) {
    window->findChild<QCheckBox*>("auto_reply")->click();
    const int before = window->shared().transaction;
    equipment_sends("S1F1W");
    ASSERT_TRUE(pump_until([&] { return equipment.sink->count(DISPID_OnSecsRead, 0) >= 1; }));
    EXPECT_EQ(test::text_of(&ITarvo::NextMessageSML, equipment.driver.get()).substr(0, 5), "S1F2\n");
    EXPECT_EQ(window->findChild<QLineEdit*>("f_field")->text(), "2");
    // No S9F100 in the catalogue: stream 9, function 0, no W, no body.
    equipment_sends("S9F99W");
    ASSERT_TRUE(pump_until([&] { return equipment.sink->count(DISPID_OnSecsRead, 0) >= 2; }))
        << ::testing::PrintToString(output());
    EXPECT_EQ(test::text_of(&ITarvo::NextMessageSML, equipment.driver.get()).substr(0, 5), "S9F0\n");
    // A message without W is never answered.
    equipment_sends("S1F1");
    EXPECT_TRUE(output_has("received S1F1"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(equipment.sink->count(DISPID_OnSecsRead, 0), 2u);
    EXPECT_EQ(window->shared().transaction, before);  // replies leave the counter alone
}

TEST_F(Window, TheThreeViewsOfAReceivedMessage) {
    window->findChild<QCheckBox*>("full_received")->click();
    client::ReceivedWindow* r = window->received_window();
    // 25 body bytes: a list of a Binary, an ASCII and a U1 item.
    const std::string text = "S6F11 W <L <B 0x01 0x02> <A 'abcdefghijklmn'> <U1 5>>";
    const struct {
        const char* view;
        std::string shown;
    } rows[] = {
        {"view_bytes",
         "S6F11W\n0x01 0x03 0x21 0x02 0x01 0x02 0x41 0x0E 0x61 0x62 \n0x63 0x64 0x65 0x66 0x67 0x68 0x69 0x6A 0x6B "
         "0x6C \n0x6D 0x6E 0xA5 0x01 0x05 "},
        {"view_elements",
         "S6F11W\ntype\tquant\tpointer\t\tvalue\n'List'\t'3'\t'0'\t\t''\n'Binary'\t'2'\t'1'\t\t'_'\n"
         "'ASCII'\t'14'\t'2'\t\t'abcdefghijklmn'\n'UInt 8'\t'1'\t'3[0]'\t\t'5'\n'UInt 8'\t'1'\t'3'\t\t'5'\n"},
        {"view_sml", ""},
    };
    int reads = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.view);
        r->findChild<QRadioButton*>(row.view)->setChecked(true);
        equipment_sends(text);
        ++reads;
        ASSERT_TRUE(pump_until([&] {
            int n = 0;
            for (const std::string& l : output()) n += l == "received S6F11W";
            return n == reads;
        }));
        if (row.shown.empty()) {
            EXPECT_EQ(r->text().left(9), "S6F11W\n<L");
        } else {
            EXPECT_EQ(r->text().toStdString(), row.shown);
        }
    }
    // With "Full recvd msg" off the window keeps its text.
    const QString kept = r->text();
    window->findChild<QCheckBox*>("full_received")->click();
    equipment_sends("S1F1");
    EXPECT_TRUE(output_has("received S1F1"));
    EXPECT_EQ(r->text(), kept);
}

}  // namespace
}  // namespace tarvo::client_test
