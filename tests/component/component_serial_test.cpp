// End to end over SECS-I: two driver objects on two pseudo-terminals joined
// back to back, an equipment (master) and a host (slave), through ITarvo.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "platform/sanitizers.h"
#include "tests/component/loopback_pair.h"
#include "tests/secs1/pty_bridge.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
using secs1_test::PtyBridge;

constexpr int kEquipmentPort = 21;
constexpr int kHostPort = 22;

class SerialPair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge.ok());
        for (DriverSide* side : {&equipment, &host}) {
            side->driver = create_driver();
            ASSERT_TRUE(side->driver);
            side->sink = RecordingSink::create(side == &equipment ? "equipment" : "host");
            side->cookie = side->sink->advise_on(side->driver.get());
            ITarvo* d = side->driver.get();
            d->SetLineType(ltSECSI);
            d->SetPort(side == &equipment ? kEquipmentPort : kHostPort);
            d->SetMaster(side == &equipment ? 1 : 0);
            d->SetBaudRate(115200);
            // Every timer its own value, so a timer that runs on another's shows.
            d->SetT1(400);
            d->SetT2(2000);
            d->SetT3(3000);
            d->SetT4(2500);
        }
    }
    void TearDown() override {
        host.release();
        equipment.release();
    }
    void open_both() {
        for (DriverSide* side : {&equipment, &host}) {
            LONG stat = 0;
            ASSERT_EQ(side->driver->SetActive(1, &stat), S_OK);
            ASSERT_EQ(stat, 1);
        }
    }
    // The equipment answers S1F1W with S1F2 from its sink.
    void equipment_answers() { reply_from_sink(equipment, "S1F2 <L <A 'SER-1'> <A '2.0'>>"); }
    void send(DriverSide& side, const std::string& text) {
        BstrHolder t(text);
        ASSERT_EQ(side.driver->SendMessage(t.get()), S_OK);
    }

    PtyBridge bridge{kEquipmentPort, kHostPort};
    DriverSide equipment;
    DriverSide host;
};

// A text of one binary item with `n` data bytes.
std::string binary_item(int n) {
    std::string text = "<B";
    for (int i = 0; i < n; ++i) text += " " + std::to_string(i % 251);
    return text + ">";
}

TEST_F(SerialPair, TheHostAsksAndTheEquipmentAnswersFromItsSink) {
    open_both();
    equipment_answers();
    send(host, "S1F1 W");
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 5s));
    EXPECT_EQ(host.sink->count(DISPID_OnSecsWritten, 1), 1u);
    EXPECT_EQ(text_of(&ITarvo::NextMessageSML, host.driver.get()).substr(0, 4), "S1F2");
    EXPECT_TRUE(equipment.sink->wait_for(DISPID_OnSecsWritten, 1, 1, 3s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(host.sink->count(DISPID_OnSecsNotify, nSecsErrorT3), 0u);
}

TEST_F(SerialPair, MultiBlockMessagesBothWaysAndBothAtOnce) {
    open_both();
    // 600 data bytes: three blocks each way, sent at the same moment, so the
    // two sides contend for the line.
    const std::string item = binary_item(600);
    std::thread from_host([&] { send(host, "S6F11 " + item); });
    send(equipment, "S6F11 " + item);
    from_host.join();
    for (DriverSide* side : {&equipment, &host}) {
        ASSERT_TRUE(side->sink->wait_for(DISPID_OnSecsRead, 0, 1, 10s));
        ASSERT_TRUE(side->sink->wait_for(DISPID_OnSecsWritten, 1, 1, 10s));
        const std::string body = text_of(&ITarvo::NextMessageByte, side->driver.get());
        ASSERT_EQ(body.size(), 603u);
        EXPECT_EQ(static_cast<uint8_t>(body[3 + 599]), 599 % 251);
        EXPECT_EQ(side->sink->count(DISPID_OnSecsWritten, 0), 0u);
    }
}

TEST_F(SerialPair, AnUnansweredPrimaryEndsInT3) {
    host.driver->SetT3(300);
    open_both();
    send(host, "S1F1 W");
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsWritten, 1, 1, 3s));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsNotify, nSecsErrorT3, 1, 3s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    EXPECT_GE(took.count(), 300 - 5);
    EXPECT_LE(took.count(), 300 + (kUnderSanitizer ? 600 : 150));
    EXPECT_EQ(host.sink->count(DISPID_OnSecsWritten, 1), 1u);
    EXPECT_TRUE(equipment.sink->wait_for(DISPID_OnSecsRead, 0, 1, 1s));  // it just did not answer
}

TEST_F(SerialPair, ANewPortIsOpenedAtOnceWhileActive) {
    open_both();
    // The host moves to a port nobody has: its line closes the old one and
    // keeps trying the new one; back on its own port it talks again.
    host.driver->SetPort(99);
    LONG active = 1;
    for (int i = 0; i < 200 && active; ++i) {
        std::this_thread::sleep_for(10ms);
        host.driver->GetActive(&active);
    }
    EXPECT_EQ(active, 0);
    host.driver->SetPort(kHostPort);
    for (int i = 0; i < 300 && !active; ++i) {
        std::this_thread::sleep_for(10ms);
        host.driver->GetActive(&active);
    }
    EXPECT_EQ(active, 1);
    equipment_answers();
    send(host, "S1F1 W");
    EXPECT_TRUE(host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 5s));
}

TEST_F(SerialPair, DeactivatingOrReleasingDuringASendEndsItPromptly) {
    // The equipment is not listening: the host's send waits for an EOT that
    // never comes (Retry x 2 x T2 would be a minute).
    LONG stat = 0;
    host.driver->SetActive(1, &stat);
    ASSERT_EQ(stat, 1);
    send(host, "S1F1 W");
    std::this_thread::sleep_for(150ms);
    const auto t0 = std::chrono::steady_clock::now();
    host.driver->SetActive(0, &stat);
    EXPECT_TRUE(host.sink->wait_for(DISPID_OnSecsWritten, 0, 1, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
    // Active again, a send that is under way when the object is released.
    host.driver->SetActive(1, &stat);
    ASSERT_EQ(stat, 1);
    send(host, "S1F3 W");
    std::this_thread::sleep_for(150ms);
    const auto t1 = std::chrono::steady_clock::now();
    ComPtr<RecordingSink> sink = host.sink;
    host.release();
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 1500ms);
    EXPECT_EQ(sink->count(DISPID_OnSecsWritten, 1), 0u);
}

}  // namespace
}  // namespace tarvo::test
