// The driver object through both call paths: line types, parameters and their
// defaults, neutral answers without a line, the conversions at the interface,
// and the log methods.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "tests/component/driver_calls.h"
#include "tests/component/driver_env.h"

namespace tarvo::test {
namespace {

class DriverObject : public ::testing::TestWithParam<CallPath> {
protected:
    void SetUp() override {
        driver_ = create_driver();
        ASSERT_TRUE(driver_);
        calls_ = std::make_unique<DriverCalls>(driver_.get(), GetParam());
    }

    ComPtr<ITarvo> driver_;
    std::unique_ptr<DriverCalls> calls_;
};

TEST_P(DriverObject, WithoutALineEveryMethodAnswersNeutralValues) {
    DriverCalls& c = *calls_;
    EXPECT_EQ(c.get("GetLineType"), ltNone);
    c.set("SetT5", 1234);
    c.set("SetPort", 7000);
    c.set_text("SetHost", "10.1.2.3");
    c.set_text("SendMessage", "S1F1W");
    c.call("NextMessage");
    c.set_text("Reply", "S1F2 <L>");
    c.set("SetConnectionMode", cmPASSIVE);
    EXPECT_EQ(c.get("GetT5"), 0);
    EXPECT_EQ(c.get("GetPort"), 0);
    EXPECT_EQ(c.get_text("GetHost"), "");
    EXPECT_EQ(c.get("GetActive"), 0);
    EXPECT_EQ(c.get("GetConnectionMode"), cmNONE);
    EXPECT_EQ(c.get("GetElemType"), 0);
    EXPECT_EQ(c.get("GetElemGnrlQuan"), 0);
    EXPECT_EQ(c.get("GetLogAdjust"), 0);
    EXPECT_EQ(c.get_text("NextMessageSML"), "");
    EXPECT_EQ(c.get_text("NextMessageByte"), "");
    EXPECT_EQ(c.get_text_at("GetElemGnrlPointer", 0), "");
    EXPECT_EQ(c.exchange("SetActive", 1), 0);
    EXPECT_EQ(c.exchange("SetActive", 0), 0);
    EXPECT_EQ(c.exchange("SetOutDeviceID", 3), 0);
    EXPECT_EQ(c.exchange("GetPassvSelectedSession", 0), 0);
}

TEST_P(DriverObject, AnHsmsLineStartsFromItsDefaultsEveryTime) {
    DriverCalls& c = *calls_;
    for (int round = 0; round < 2; ++round) {
        c.set("SetLineType", ltHSMS);
        EXPECT_EQ(c.get("GetLineType"), ltHSMS);
        EXPECT_EQ(c.get("GetT3"), 45000);
        EXPECT_EQ(c.get("GetT5"), 10000);
        EXPECT_EQ(c.get("GetT6"), 5000);
        EXPECT_EQ(c.get("GetT7"), 10000);
        EXPECT_EQ(c.get("GetT8"), 5000);
        EXPECT_EQ(c.get("GetT1"), -1);
        EXPECT_EQ(c.get("GetRetry"), -1);
        EXPECT_EQ(c.get("GetBaudRate"), 0);
        EXPECT_EQ(c.get("GetPort"), 5000);
        EXPECT_EQ(c.get("GetOutDeviceID"), 65535);
        EXPECT_EQ(c.get("GetOutTransactionID"), 2);
        EXPECT_EQ(c.get("GetSingleSessionMode"), 1);
        EXPECT_EQ(c.get("GetMaxAlternSwitches"), 10);
        EXPECT_EQ(c.get("GetMaxPassvConnections"), 15);
        EXPECT_EQ(c.get("GetConnectionMode"), cmNONE);
        EXPECT_EQ(c.get("GetLogAdjust"), 5199);
        EXPECT_EQ(c.get("GetActive"), 0);
        // Changed now, forgotten by the next line.
        for (const char* name : {"T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "Retry", "MaxPassvConnections",
                                 "MaxAlternSwitches", "OutSourceID", "OutTransactionID", "Port"}) {
            c.set(std::string("Set") + name, 321);
            EXPECT_EQ(c.get(std::string("Get") + name), 321) << name;
        }
        c.set("SetLogAdjust", 0);
        EXPECT_EQ(c.get("GetLogAdjust"), 0);
    }
}

TEST_P(DriverObject, SettersStoreWhatTheyAreGiven) {
    DriverCalls& c = *calls_;
    c.set("SetLineType", ltHSMS);
    c.set("SetBaudRate", 14400);  // not a rate of the table
    EXPECT_EQ(c.get("GetBaudRate"), 9600);
    c.set("SetBaudRate", 115200);
    EXPECT_EQ(c.get("GetBaudRate"), 115200);
    c.set("SetSingleSessionMode", 2);
    EXPECT_EQ(c.get("GetSingleSessionMode"), 0);
    c.set("SetSingleSessionMode", 1);
    EXPECT_EQ(c.get("GetSingleSessionMode"), 1);
    c.set("SetMaster", 7);
    EXPECT_EQ(c.get("GetMaster"), 1);
    c.set("SetMaster", 0);
    EXPECT_EQ(c.get("GetMaster"), 0);
    // Not open: there is no selected client to refuse the session.
    EXPECT_EQ(c.exchange("SetOutDeviceID", 77), 1);
    EXPECT_EQ(c.get("GetOutDeviceID"), 77);
    c.set("SetT3", -5);  // stored unchecked
    EXPECT_EQ(c.get("GetT3"), -5);
}

TEST_P(DriverObject, AnUnknownLineTypeIsReportedAndTheLineRunsOn) {
    DriverCalls& c = *calls_;
    auto sink = RecordingSink::create();
    ASSERT_NE(sink->advise_on(driver_.get()), 0u);
    c.set("SetLineType", ltHSMS);
    c.set("SetT5", 1234);
    c.set("SetLineType", 5);
    EXPECT_EQ(sink->count(DISPID_OnSecsNotify, nSecsErrorInternal), 1u);  // raised before the call returned
    EXPECT_EQ(c.get("GetLineType"), 5);
    EXPECT_EQ(c.get("GetT5"), 1234);
    c.set("SetLineType", ltNone);
    EXPECT_EQ(c.get("GetLineType"), ltNone);
    EXPECT_EQ(c.get("GetT5"), 0);
}

TEST_P(DriverObject, ASerialLineStartsFromItsDefaults) {
    DriverCalls& c = *calls_;
    auto sink = RecordingSink::create();
    ASSERT_NE(sink->advise_on(driver_.get()), 0u);
    c.set("SetLineType", ltHSMS);
    c.set("SetT5", 1234);
    c.set("SetT3", 1234);
    c.set("SetLineType", ltSECSI);
    EXPECT_EQ(c.get("GetLineType"), ltSECSI);
    EXPECT_EQ(sink->count(DISPID_OnSecsNotify, nSecsErrorInternal), 0u);
    const struct {
        const char* getter;
        int value;
    } defaults[] = {{"GetT1", 500},      {"GetT2", 10000},        {"GetT3", 45000},          {"GetT4", 45000},
                    {"GetT5", 0},        {"GetRetry", 3},         {"GetPort", 1},            {"GetBaudRate", 19200},
                    {"GetMaster", 0},    {"GetOutDeviceID", 0},   {"GetOutSourceID", 0},     {"GetOutTransactionID", 0},
                    {"GetLogAdjust", 5199}, {"GetActive", 0},     {"GetPassvSelectedQuan", 0}};
    for (const auto& d : defaults) EXPECT_EQ(c.get(d.getter), d.value) << d.getter;
    // Each parameter through its own getter, with a value of its own.
    const struct {
        const char* name;
        int value;
    } params[] = {{"T1", 101}, {"T2", 202}, {"T3", 303}, {"T4", 404}, {"Retry", 5}, {"Port", 66},
                  {"OutSourceID", 7}, {"OutTransactionID", 8}};
    for (const auto& p : params) c.set(std::string("Set") + p.name, p.value);
    for (const auto& p : params) EXPECT_EQ(c.get(std::string("Get") + p.name), p.value) << p.name;
    c.set("SetBaudRate", 14400);  // not a rate of the table
    EXPECT_EQ(c.get("GetBaudRate"), 9600);
    EXPECT_EQ(c.exchange("SetOutDeviceID", 30000), 1);  // a serial line takes any device
    EXPECT_EQ(c.get("GetOutDeviceID"), 30000);
    EXPECT_EQ(c.exchange("GetPassvSelectedSession", 0), 0);
    // A port that does not exist: not opened, and the line does not retry.
    c.set("SetPort", 9999);
    EXPECT_EQ(c.exchange("SetActive", 1), 0);
    EXPECT_EQ(c.get("GetActive"), 0);
}

TEST_P(DriverObject, TextCrossesTheInterfaceByteForCharacter) {
    DriverCalls& c = *calls_;
    c.set("SetLineType", ltHSMS);
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    c.set_text("SetHost", all);
    EXPECT_EQ(c.get_text("GetHost"), all);  // closed: the host as set
    c.set_text("SetHost", "");
    EXPECT_EQ(c.get_text("GetHost"), "");
}

TEST_P(DriverObject, DeactivatingAClosedLineAnswersAtOnce) {
    DriverCalls& c = *calls_;
    c.set("SetLineType", ltHSMS);
    EXPECT_EQ(c.exchange("SetActive", 0), 1);
    EXPECT_EQ(c.get("GetActive"), 0);
    EXPECT_EQ(c.exchange("SetActive", -1), 1);
}

TEST_P(DriverObject, TheLogMethodsReachTheDriverLog) {
    DriverCalls& c = *calls_;
    const std::string file = "/tmp/tarvo-component-log-" + std::to_string(getpid()) + ".log";
    const std::string before = c.get_text("GetLogFileName");
    c.set_text("SetLogFileName", file);
    EXPECT_EQ(c.get_text("GetLogFileName"), file);
    EXPECT_EQ(c.get("GetLogActive"), 1);
    c.set("SetLineType", ltHSMS);
    c.set_text("SetLogString", "hello there");
    c.set("SetLogAdjust", 0);  // the user's records do not depend on the mask
    c.set_text("SetLogString", "second");
    c.set("SetLogActive", -1);
    EXPECT_EQ(c.get("GetLogActive"), 0);
    c.set_text("SetLogString", "not written");
    c.set("SetLogActive", 1);
    EXPECT_EQ(c.get("GetLogActive"), 1);
    c.set("SetLogAdjust", 5199);
    c.exchange("SetActive", 0);
    c.set("SetLineType", ltNone);
    c.set_text("SetLogFileName", before);

    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    EXPECT_NE(log.find("Log started"), std::string::npos);
    EXPECT_NE(log.find("__SERV: SetLineType = 'HSMS'"), std::string::npos);
    EXPECT_NE(log.find("__SERV USER: hello there"), std::string::npos);
    EXPECT_NE(log.find("__SERV USER: second"), std::string::npos);
    EXPECT_EQ(log.find("not written"), std::string::npos);
    EXPECT_NE(log.find("__SERV: SetActive = '0'"), std::string::npos);
    EXPECT_NE(log.find("__SERV: SetLineType = 'remove'"), std::string::npos);
    unlink(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(BothPaths, DriverObject, ::testing::Values(CallPath::table, CallPath::dispatch),
                         [](const auto& info) { return info.param == CallPath::table ? "Table" : "Dispatch"; });

TEST(DriverConversions, CharactersAboveTheByteRangeBecomeQuestionMarks) {
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    const OLECHAR wide[] = {u'a', 0x263A, u'b', 0x100, 0xFF};
    BstrHolder host(SysAllocStringLen(wide, 5));
    ASSERT_EQ(driver->SetHost(host.get()), S_OK);
    BSTR out = nullptr;
    ASSERT_EQ(driver->GetHost(&out), S_OK);
    EXPECT_EQ(take_text(out), "a?b?\xFF");
    ASSERT_EQ(driver->SetHost(nullptr), S_OK);  // a null BSTR is the empty text
    ASSERT_EQ(driver->GetHost(&out), S_OK);
    EXPECT_EQ(SysStringLen(out), 0u);
    EXPECT_NE(out, nullptr);
    SysFreeString(out);
}

TEST(DriverConversions, NullOutPointersAreRefused) {
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    EXPECT_EQ(driver->GetT5(nullptr), E_POINTER);
    EXPECT_EQ(driver->GetHost(nullptr), E_POINTER);
    EXPECT_EQ(driver->SetActive(1, nullptr), E_POINTER);
    EXPECT_EQ(driver->GetLineType(nullptr), E_POINTER);
}

}  // namespace
}  // namespace tarvo::test
