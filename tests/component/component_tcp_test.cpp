// SECS-I over TCP, end to end: two driver objects on loopback, an equipment
// (master) on a tcp-listen: port and a host (slave) on a tcp: port, the
// whole link protocol running over the stream through ITarvo.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "platform/sanitizers.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kEquipmentPort = 31;
constexpr int kHostPort = 32;

std::string binary_item(int n) {
    std::string text = "<B";
    for (int i = 0; i < n; ++i) text += " " + std::to_string(i % 251);
    return text + ">";
}

class TcpPair : public ::testing::Test {
protected:
    void SetUp() override {
        register_component();
        tcp_port = free_port();
        file = "/tmp/tarvo-tcp-pair-" + std::to_string(::getpid());
        std::ofstream(file) << kEquipmentPort << " tcp-listen:127.0.0.1:" << tcp_port << "\n"
                            << kHostPort << " tcp:127.0.0.1:" << tcp_port << "\n";
        ::setenv("TARVO_PORTS", file.c_str(), 1);
        for (DriverSide* side : {&equipment, &host}) make(*side, side == &equipment);
    }
    void TearDown() override {
        host.release();
        equipment.release();
        ::unsetenv("TARVO_PORTS");
        std::remove(file.c_str());
    }
    void make(DriverSide& side, bool is_equipment) {
        side.driver = create_driver();
        ASSERT_TRUE(side.driver);
        side.sink = RecordingSink::create(is_equipment ? "equipment" : "host");
        side.cookie = side.sink->advise_on(side.driver.get());
        ITarvo* d = side.driver.get();
        d->SetLineType(ltSECSI);
        d->SetPort(is_equipment ? kEquipmentPort : kHostPort);
        d->SetMaster(is_equipment ? 1 : 0);
        d->SetT2(2000);
        d->SetT3(3000);
        d->SetLogAdjust(4096 | 1024 | 2048 | 1);
    }
    void open(DriverSide& side) {
        LONG stat = 0;
        ASSERT_EQ(side.driver->SetActive(1, &stat), S_OK);
        ASSERT_EQ(stat, 1);
    }
    void open_both() {
        open(equipment);
        open(host);
    }
    void equipment_answers() { reply_from_sink(equipment, "S1F2 <L <A 'SER-1'> <A '2.0'>>"); }
    void send(DriverSide& side, const std::string& text) {
        BstrHolder t(text);
        ASSERT_EQ(side.driver->SendMessage(t.get()), S_OK);
    }

    int tcp_port = 0;
    std::string file;
    DriverSide equipment;
    DriverSide host;
};

TEST_F(TcpPair, AskAnswerAndLargeMessagesBothWaysAtOnce) {
    open_both();
    equipment_answers();
    send(host, "S1F1 W");
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 5s));
    EXPECT_EQ(text_of(&ITarvo::NextMessageSML, host.driver.get()).substr(0, 4), "S1F2");
    // 64 KiB each way (269 blocks), sent at the same moment: the two sides
    // contend for the line and the equipment wins it each time.
    equipment.sink->set_hook({});
    const std::string item = binary_item(65536);
    std::thread from_host([&] { send(host, "S6F11 " + item); });
    send(equipment, "S6F11 " + item);
    from_host.join();
    for (DriverSide* side : {&equipment, &host}) {
        SCOPED_TRACE(side == &equipment ? "equipment" : "host");
        ASSERT_TRUE(side->sink->wait_for(DISPID_OnSecsWritten, 1, side == &host ? 2 : 1, 20s));
        ASSERT_TRUE(side->sink->wait_for(DISPID_OnSecsRead, 0, 2, 20s));
        const std::string body = text_of(&ITarvo::NextMessageByte, side->driver.get());
        ASSERT_EQ(body.size(), 65536u + 4);
        EXPECT_EQ(static_cast<uint8_t>(body[4 + 65535]), 65535 % 251);
    }
    EXPECT_EQ(host.sink->count(DISPID_OnSecsWritten, 0), 0u);
}

// The equipment's program restarts: the host loses its connection (a hung-up
// port), connects again after the reopen delay, and the next message goes
// through.
TEST_F(TcpPair, TheHostReconnectsToARestartedListener) {
    open_both();
    equipment_answers();
    host.driver->SetOutTransactionID(100);
    send(host, "S1F1 W");
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 5s));
    equipment.release();
    ASSERT_TRUE(host.sink->wait_for(DISPID_OnSecsNotify, nSecsErrorPortReadFailed, 1, 5s));
    make(equipment, true);
    open(equipment);
    equipment_answers();
    // Until it is connected again, a send may end unsent; then one goes through.
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        host.driver->SetOutTransactionID(100 + attempt);  // each message its own system bytes
        send(host, "S1F1 W");
        answered = host.sink->wait_for(DISPID_OnSecsRead, 0, 2, 500ms);
    }
    EXPECT_TRUE(answered);
    // The answer repeats the header of the one before the restart: on a new
    // connection that is no duplicate.
    EXPECT_EQ(host.sink->count(DISPID_OnSecsNotify, nSecsErrorBlockDuplication), 0u);
    LONG active = 0;
    host.driver->GetActive(&active);
    EXPECT_EQ(active, 1);
}

// The equipment's listener without a client: open, and a message whose turn
// comes ends at once, unsent.
TEST_F(TcpPair, AListenerWithoutAClientEndsSendsAtOnce) {
    open(equipment);
    const auto t0 = Clock::now();
    send(equipment, "S1F13 W");
    ASSERT_TRUE(equipment.sink->wait_for(DISPID_OnSecsWritten, 0, 1, 3s));
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_EQ(equipment.sink->count(DISPID_OnSecsNotify, nSecsErrorPortWriteFailed), 1u);
    LONG active = 0;
    equipment.driver->GetActive(&active);
    EXPECT_EQ(active, 1);
}

// A connect to a listener whose backlog is full never completes: a stop
// ends the opening at once.
TEST_F(TcpPair, AStopEndsAConnectAtOnce) {
    const int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(full, 0);
    socklen_t size = sizeof a;
    ::getsockname(full, reinterpret_cast<sockaddr*>(&a), &size);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::ofstream(file) << kHostPort << " tcp:127.0.0.1:" << ntohs(a.sin_port) << "\n";
    host.driver->SetT2(10000);
    LONG stat = -1;
    std::thread opening([&] { host.driver->SetActive(1, &stat); });
    std::this_thread::sleep_for(300ms);
    const auto t0 = Clock::now();
    LONG off = 0;
    host.driver->SetActive(0, &off);
    opening.join();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    std::printf("SetActive(0) during a connect took %lld ms\n", static_cast<long long>(took));
    EXPECT_LT(took, 50 * (kUnderSanitizer ? 4 : 1));
    EXPECT_EQ(stat, 0);
    for (int fd : fillers) ::close(fd);
    ::close(full);
}

}  // namespace
}  // namespace tarvo::test
