// End to end: two driver objects over loopback HSMS, a host and an
// equipment that answers from inside its OnSecsRead.
#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

// The equipment's answers, given from its sink on the thread that raised
// OnSecsRead: the message is already in the inbox when the event comes.
void answer_from_sink(ITarvo* equipment, RecordingSink* sink) {
    sink->set_hook([equipment](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        equipment->NextMessage();
        INT stream = 0, function = 0;
        LONG w = 0;
        equipment->GetInStreamID(&stream);
        equipment->GetInFunctionID(&function);
        equipment->GetInWBit(&w);
        if (!w) return;
        std::string reply;
        if (stream == 1 && function == 1) reply = "S1F2 <L <A 'MDL-7'> <A '1.0'>>";
        if (stream == 1 && function == 13) reply = "S1F14 <L <B 0x00> <L>>";
        if (!reply.empty()) {
            BstrHolder text(reply);
            equipment->Reply(text.get());
        }
    });
}

// Makes element `index` (as GetElemGnrlPointer counts) the host's current
// element and gives its type.
void select_element(ITarvo* host, INT index, enum_SECS_ELEM_TYPE* type) {
    BSTR pointer = nullptr;
    ASSERT_EQ(host->GetElemGnrlPointer(index, &pointer), S_OK);
    BstrHolder p(pointer);
    ASSERT_EQ(host->SetElemPointer(p.get()), S_OK);
    host->GetElemType(type);
}

TEST(Loopback, TheHostReadsTheEquipmentsAnswerElementByElement) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* host = pair.host.driver.get();
    answer_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());

    // The reply carries the request's system bytes: two distinct halves.
    host->SetOutSourceID(0x1234);
    host->SetOutTransactionID(0x0567);
    BstrHolder s1f1("S1F1 W");
    ASSERT_EQ(host->SendMessage(s1f1.get()), S_OK);
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 3s));
    EXPECT_EQ(pair.host.sink->count(DISPID_OnSecsWritten, 1), 1u);
    EXPECT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsWritten, 1, 1, 3s));

    ASSERT_EQ(host->NextMessage(), S_OK);
    EXPECT_EQ(int_of(&ITarvo::GetInStreamID, host), 1);
    EXPECT_EQ(int_of(&ITarvo::GetInFunctionID, host), 2);
    EXPECT_EQ(int_of(&ITarvo::GetInSourceID, host), 0x1234);
    EXPECT_EQ(int_of(&ITarvo::GetInTransactionID, host), 0x0567);
    LONG w = -1, r = -1;
    host->GetInWBit(&w);
    host->GetInRBit(&r);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(r, 1);  // from the equipment
    INT count = 0;
    ASSERT_EQ(host->GetElemGnrlQuan(&count), S_OK);
    ASSERT_EQ(count, 3);
    std::vector<std::pair<int, std::string>> elements;
    for (INT i = 0; i < count; ++i) {
        enum_SECS_ELEM_TYPE type{};
        ASSERT_NO_FATAL_FAILURE(select_element(host, i, &type));
        elements.emplace_back(type, text_of(&ITarvo::GetElemValue, host));
    }
    EXPECT_EQ(elements[0].first, etSecsL);
    EXPECT_EQ(elements[1], (std::pair<int, std::string>{etSecsA, "MDL-7"}));
    EXPECT_EQ(elements[2], (std::pair<int, std::string>{etSecsA, "1.0"}));
}

TEST(Loopback, ZeroBytesSurviveTheInterface) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* host = pair.host.driver.get();
    answer_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());

    BstrHolder s1f13("S1F13 W <L>");
    ASSERT_EQ(host->SendMessage(s1f13.get()), S_OK);
    ASSERT_EQ(host->SendMessage(s1f13.get()), S_OK);
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 2, 3s));

    EXPECT_EQ(text_of(&ITarvo::NextMessageByte, host), std::string("\x01\x02\x21\x01\x00\x01\x00", 7));
    ASSERT_EQ(host->NextMessage(), S_OK);
    enum_SECS_ELEM_TYPE type{};  // the element after the root list: the binary item
    ASSERT_NO_FATAL_FAILURE(select_element(host, 1, &type));
    EXPECT_EQ(type, etSecsB);
    EXPECT_EQ(text_of(&ITarvo::GetElemValue, host), std::string(1, '\0'));
    EXPECT_EQ(text_of(&ITarvo::NextMessageByte, host), "no more messages");
}

// Every byte value crosses the interface in an A and a J item: sent as
// "0xHH" tokens, it arrives as itself; the SML text the receiver renders,
// sent back, arrives as the same body again.
TEST(Loopback, EveryByteOfATextSurvivesSmlBothWays) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    ITarvo* e = pair.equipment.driver.get();
    std::string all, tokens = "''";
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
        char t[8];
        std::snprintf(t, sizeof t, " 0x%02X", c);
        tokens += t;
    }
    const std::string expected = std::string("\x01\x02\x42\x01\x00", 5) + all +
                                 std::string("\x46\x01\x00", 3) + all;
    BstrHolder mixed("S1F65 <L <A " + tokens + "> <J " + tokens + ">>");
    ASSERT_EQ(h->SendMessage(mixed.get()), S_OK);
    ASSERT_EQ(h->SendMessage(mixed.get()), S_OK);
    ASSERT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsRead, 0, 2, 3s));
    EXPECT_EQ(text_of(&ITarvo::NextMessageByte, e), expected);

    const std::string sml = text_of(&ITarvo::NextMessageSML, e);
    EXPECT_NE(sml.find("'' 0x00 0x01"), std::string::npos) << sml;
    EXPECT_NE(sml.find(" 0x27 '("), std::string::npos) << sml;
    BstrHolder back(sml);
    ASSERT_EQ(e->SendMessage(back.get()), S_OK);
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 3s));
    EXPECT_EQ(text_of(&ITarvo::NextMessageByte, h), expected);
}

TEST(Loopback, TheSmlTextNamesTheMessageFirst) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* host = pair.host.driver.get();
    answer_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
    BstrHolder s1f1("S1F1 W");
    ASSERT_EQ(host->SendMessage(s1f1.get()), S_OK);
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 3s));
    const std::string sml = text_of(&ITarvo::NextMessageSML, host);
    EXPECT_EQ(sml.rfind("S1F2\n", 0), 0u) << sml;
    EXPECT_NE(sml.find("'MDL-7'"), std::string::npos) << sml;
}

TEST(Loopback, AnOpenLineReportsWhereItIsConnected) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* e = pair.equipment.driver.get();
    ITarvo* h = pair.host.driver.get();
    enum_HSMS_CONN_MODE mode{};
    e->GetConnectionMode(&mode);
    EXPECT_EQ(mode, cmPASSIVE);
    h->GetConnectionMode(&mode);
    EXPECT_EQ(mode, cmACTIVE);
    EXPECT_EQ(text_of(&ITarvo::GetHost, h), "127.0.0.1");
    const std::string local = text_of(&ITarvo::GetHost, e);
    EXPECT_EQ(std::count(local.begin(), local.end(), '.'), 3) << local;
    EXPECT_EQ(int_of(&ITarvo::GetPort, e), pair.port());
    EXPECT_EQ(int_of(&ITarvo::GetPassvSelectedQuan, e), 1);
    LONG active = 0, res = -1;
    e->GetActive(&active);
    EXPECT_EQ(active, 1);
    // A session that no selected client has: refused, but stored all the same.
    e->SetOutDeviceID(4321, &res);
    EXPECT_EQ(res, 0);
    EXPECT_EQ(int_of(&ITarvo::GetOutDeviceID, e), 4321);
    // Opening an open line again changes nothing.
    LONG stat = 0;
    ASSERT_EQ(h->SetActive(1, &stat), S_OK);
    EXPECT_EQ(stat, 1);
    EXPECT_EQ(pair.host.sink->count(DISPID_OnSecsNotify, nHSMSConnectionActive), 1u);
    // A new port takes effect at once: the equipment's worker wakes, closes
    // and listens on the new port.
    const int moved = free_port();
    e->SetPort(moved);
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (int_of(&ITarvo::GetPort, e) != moved && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(int_of(&ITarvo::GetPort, e), moved);
}

TEST(Loopback, DeactivatingTheHostClosesItAndTheEquipmentHearsOfIt) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    LONG stat = 0, active = 1;
    ASSERT_EQ(h->SetActive(0, &stat), S_OK);
    EXPECT_EQ(stat, 1);
    h->GetActive(&active);
    EXPECT_EQ(active, 0);  // closed by the worker before SetActive returned
    enum_HSMS_CONN_MODE mode{};
    h->GetConnectionMode(&mode);
    EXPECT_EQ(mode, cmNONE);
    EXPECT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassiveMinus, 1, 3s));
    // And it opens again.
    ASSERT_EQ(h->SetActive(1, &stat), S_OK);
    EXPECT_EQ(stat, 1);
    EXPECT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassivePlus, 2, 3s));
}

TEST(Loopback, TheEquipmentSendsAndTheHostRepliesFromItsSink) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    ITarvo* e = pair.equipment.driver.get();
    pair.host.sink->set_hook([h](const RecordingSink::Event& ev) {
        if (ev.id != DISPID_OnSecsRead) return;
        h->NextMessage();
        BstrHolder ack("S6F12 <B 0>");
        h->Reply(ack.get());
    });
    BstrHolder event("S6F11 W <L <U4 1> <U4 100> <L>>");
    for (int i = 0; i < 5; ++i) ASSERT_EQ(e->SendMessage(event.get()), S_OK);
    ASSERT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsRead, 0, 5, 3s));
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(e->NextMessage(), S_OK);
        EXPECT_EQ(int_of(&ITarvo::GetInStreamID, e), 6);
        EXPECT_EQ(int_of(&ITarvo::GetInFunctionID, e), 12);
    }
    EXPECT_EQ(pair.equipment.sink->count(DISPID_OnSecsNotify, nSecsErrorT3), 0u);
}

TEST(Loopback, AHostWithNoPeerFailsToOpenAndKeepsTrying) {
    register_component();
    ComPtr<ITarvo> h = create_driver();
    auto sink = RecordingSink::create();
    sink->advise_on(h.get());
    const int port = free_port();
    h->SetLineType(ltHSMS);
    h->SetConnectionMode(cmACTIVE);
    BstrHolder loopback("127.0.0.1");
    h->SetHost(loopback.get());
    h->SetPort(port);
    h->SetT5(100);
    LONG stat = 1;
    ASSERT_EQ(h->SetActive(1, &stat), S_OK);
    EXPECT_EQ(stat, 0);
    EXPECT_GE(sink->count(DISPID_OnSecsNotify, nSecsErrorPortOpenFailed), 1u);
    // Retries every T5 until a peer is there.
    ComPtr<ITarvo> e = create_driver();
    e->SetLineType(ltHSMS);
    e->SetConnectionMode(cmPASSIVE);
    e->SetPort(port);
    ASSERT_EQ(e->SetActive(1, &stat), S_OK);
    ASSERT_EQ(stat, 1);
    EXPECT_TRUE(sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionActive, 1, 3s));
    LONG active = 0;
    h->GetActive(&active);
    EXPECT_EQ(active, 1);
    h.reset();
    e.reset();
}

}  // namespace
}  // namespace tarvo::test
