// The settings dialogs: which setters reach the driver, in which order and
// with which values, on OK, Cancel, Default and Escape.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <functional>
#include <string>
#include <vector>

#include "client/hsms_dialog.h"
#include "client/log_dialog.h"
#include "client/secs1_dialog.h"
#include "tests/client/qt_app.h"
#include "tests/client/recording_tarvo.h"

namespace tarvo::client_test {
namespace {

using client::SharedValues;
using Calls = std::vector<std::string>;

// A runner that edits the open dialog and answers as the user would.
client::DialogRunner answer(int result, std::function<void(QDialog&)> edit = {}) {
    return [result, edit](QDialog& d) {
        if (edit) edit(d);
        return result;
    };
}

void type(QDialog& d, const char* field, const char* text) {
    QLineEdit* e = d.findChild<QLineEdit*>(field);
    ASSERT_NE(e, nullptr) << field;
    e->setText(text);
}

class Settings : public ::testing::Test {
protected:
    Settings() { qt_app(); }
    SharedValues shared;
    RecordingTarvo driver;
};

TEST_F(Settings, Secs1OnlyWhatChangedAndThePortAlways) {
    client::Secs1Dialog dialog;
    struct Row {
        const char* name;
        std::function<void(QDialog&)> edit;
        Calls calls;
    } rows[] = {
        {"unchanged", {}, {"SetPort(1)"}},
        {"T1 only", [](QDialog& d) { type(d, "t1", "600"); }, {"SetPort(1)", "SetT1(600)"}},
        {"every field, in the order of applying",
         [](QDialog& d) {
             type(d, "baud_rate", "9600");
             type(d, "port", "3");
             type(d, "retry", "5");
             d.findChild<QCheckBox*>("master")->setChecked(true);
             type(d, "t1", "700");
             type(d, "t2", "2000");
             type(d, "t3", "3000");
             type(d, "t4", "4000");
             type(d, "out_device_id", "9");
             type(d, "out_source_id", "8");
             type(d, "out_transaction_id", "100");
         },
         {"SetBaudRate(9600)", "SetPort(3)", "SetRetry(5)", "SetMaster(1)", "SetT1(700)", "SetT2(2000)", "SetT3(3000)",
          "SetT4(4000)", "SetOutDeviceID(9)", "SetOutSourceID(8)", "SetOutTransactionID(100)"}},
        {"the same values again pass only the port", {}, {"SetPort(3)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.calls.clear();
        EXPECT_EQ(dialog.run(shared, &driver, answer(QDialog::Accepted, row.edit)), QDialog::Accepted);
        EXPECT_EQ(driver.calls, row.calls);
    }
    // The main window took the shared values: the next "Send message" uses 101.
    EXPECT_EQ(shared.transaction, 100);
    EXPECT_EQ(shared.t3, 3000);
    EXPECT_EQ(shared.device_id, 9);
}

TEST_F(Settings, TheSharedFieldsShowTheMainWindowsValues) {
    client::Secs1Dialog dialog;
    shared.transaction = 5;  // three sends after the start value 2
    driver.calls.clear();
    dialog.run(shared, &driver, answer(QDialog::Accepted, [](QDialog& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("out_transaction_id")->text(), "5");
        EXPECT_EQ(d.findChild<QLineEdit*>("out_device_id")->text(), "111");
        EXPECT_EQ(d.findChild<QLineEdit*>("t3")->text(), "45000");
    }));
    EXPECT_EQ(driver.calls, Calls{"SetPort(1)"});
}

TEST_F(Settings, Secs1CancelRestoresAndDefaultRefills) {
    client::Secs1Dialog dialog;
    dialog.run(shared, &driver, answer(QDialog::Accepted, [](QDialog& d) { type(d, "t2", "2500"); }));
    driver.calls.clear();
    dialog.run(shared, &driver, answer(QDialog::Rejected, [](QDialog& d) {
        type(d, "t2", "9");
        type(d, "port", "4");
        d.findChild<QCheckBox*>("master")->setChecked(true);
    }));
    EXPECT_TRUE(driver.calls.empty());
    EXPECT_EQ(dialog.fields().t2, "2500");
    EXPECT_EQ(dialog.fields().port, "1");
    EXPECT_FALSE(dialog.fields().master);
    // "Default": every default back, the ids the main window wrote kept.
    shared.device_id = 42;
    dialog.run(shared, &driver, answer(QDialog::Accepted, [](QDialog& d) {
        type(d, "out_source_id", "77");
        d.findChild<QPushButton*>("default")->click();
    }));
    EXPECT_EQ(dialog.fields().t2, "10000");
    EXPECT_EQ(dialog.fields().source_id, "0");
    EXPECT_EQ(dialog.fields().device_id, "42");
    EXPECT_EQ(driver.calls, (Calls{"SetPort(1)", "SetT2(10000)"}));
}

TEST_F(Settings, HsmsOrderCancelAndTheHostText) {
    client::HsmsDialog dialog;
    driver.calls.clear();
    dialog.run(shared, &driver, answer(QDialog::Accepted));
    EXPECT_EQ(driver.calls, Calls{"SetPort(5000)"});
    EXPECT_EQ(dialog.fields().host, "127.0.0.1");
    // Cancel after editing the port and the host restores both, passes nothing.
    driver.calls.clear();
    dialog.run(shared, &driver, answer(QDialog::Rejected, [](QDialog& d) {
        type(d, "port", "6000");
        d.findChild<QSpinBox*>("host_4")->setValue(9);
    }));
    EXPECT_TRUE(driver.calls.empty());
    EXPECT_EQ(dialog.fields().port, "5000");
    EXPECT_EQ(dialog.fields().host, "127.0.0.1");
    // Everything changed: the order of applying.
    dialog.run(shared, &driver, answer(QDialog::Accepted, [](QDialog& d) {
        d.findChild<QSpinBox*>("host_1")->setValue(10);
        type(d, "port", "6001");
        d.findChild<QRadioButton*>("passive")->setChecked(true);
        type(d, "connects", "3");
        type(d, "retry", "4");
        type(d, "t3", "3100");
        type(d, "t5", "5100");
        type(d, "t6", "6100");
        type(d, "t7", "7100");
        type(d, "t8", "8100");
        type(d, "out_device_id", "7");
        type(d, "out_source_id", "6");
        type(d, "out_transaction_id", "50");
    }));
    EXPECT_EQ(driver.calls, (Calls{"SetHost(10.0.0.1)", "SetPort(6001)", "SetConnectionMode(1)",
                                   "SetMaxPassvConnections(3)", "SetMaxAlternSwitches(4)", "SetT3(3100)", "SetT5(5100)",
                                   "SetT6(6100)", "SetT7(7100)", "SetT8(8100)", "SetOutDeviceID(7)",
                                   "SetOutSourceID(6)", "SetOutTransactionID(50)"}));
}

TEST_F(Settings, TheLogDialogAppliesHoweverItCloses) {
    client::LogDialog dialog;
    struct Row {
        const char* name;
        int result;
        std::function<void(QDialog&)> edit;
        Calls calls;
    } rows[] = {
        {"defaults", QDialog::Accepted, {}, {"SetLogFileName(Tarvo.log)", "SetLogActive(1)", "SetLogAdjust(5199)"}},
        {"escape after unchecking line records", QDialog::Rejected,
         [](QDialog& d) { d.findChild<QCheckBox*>("mask_64")->setChecked(false); },
         {"SetLogFileName(Tarvo.log)", "SetLogActive(1)", "SetLogAdjust(5135)"}},
        {"everything off, another file", QDialog::Accepted,
         [](QDialog& d) {
             for (QCheckBox* box : d.findChildren<QCheckBox*>()) box->setChecked(false);
             type(d, "log_file_name", "other.log");
         },
         {"SetLogFileName(other.log)", "SetLogActive(0)", "SetLogAdjust(4096)"}},
        {"it keeps the values last shown", QDialog::Rejected, {},
         {"SetLogFileName(other.log)", "SetLogActive(0)", "SetLogAdjust(4096)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.calls.clear();
        dialog.run(&driver, answer(row.result, row.edit));
        EXPECT_EQ(driver.calls, row.calls);
    }
}

// A driver object that has not received a dialog's values gets every value
// the dialog shows, on OK and on Cancel alike, so the dialog never shows
// what the driver does not use; after that only changes go.
TEST_F(Settings, AFreshDriverGetsEveryValueShown) {
    client::HsmsDialog hsms;
    hsms.run(shared, &driver, answer(QDialog::Accepted, [](QDialog& d) {
        d.findChild<QRadioButton*>("active")->setChecked(true);
        type(d, "t6", "3000");
    }));
    const Calls every_hsms{"SetHost(127.0.0.1)", "SetPort(5000)", "SetConnectionMode(2)", "SetMaxPassvConnections(15)",
                           "SetMaxAlternSwitches(10)", "SetT3(45000)", "SetT5(10000)", "SetT6(3000)",
                           "SetT7(10000)", "SetT8(5000)", "SetOutDeviceID(111)", "SetOutSourceID(0)",
                           "SetOutTransactionID(2)"};
    for (const int result : {QDialog::Rejected, QDialog::Accepted}) {
        SCOPED_TRACE(result == QDialog::Accepted ? "OK" : "Cancel");
        RecordingTarvo fresh;
        hsms.run(shared, &fresh, answer(result, [](QDialog& d) { type(d, "port", "6000"); }), true);
        Calls want = every_hsms;
        if (result == QDialog::Accepted) want[1] = "SetPort(6000)";
        EXPECT_EQ(fresh.calls, want);
    }
    client::Secs1Dialog secs1;
    RecordingTarvo fresh;
    secs1.run(shared, &fresh, answer(QDialog::Rejected), true);
    EXPECT_EQ(fresh.calls, (Calls{"SetBaudRate(19200)", "SetPort(1)", "SetRetry(3)", "SetMaster(0)", "SetT1(500)",
                                  "SetT2(10000)", "SetT3(45000)", "SetT4(45000)", "SetOutDeviceID(111)",
                                  "SetOutSourceID(0)", "SetOutTransactionID(2)"}));
    fresh.calls.clear();
    secs1.run(shared, &fresh, answer(QDialog::Rejected));
    EXPECT_TRUE(fresh.calls.empty()) << "an object that has the values gets nothing on Cancel";
}

}  // namespace
}  // namespace tarvo::client_test
