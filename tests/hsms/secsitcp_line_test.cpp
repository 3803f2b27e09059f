// Whole HSMS lines: the defaults, two lines in one process talking through
// SendMessage, NextMessage and Reply, alternation, timer exhaustion,
// destruction of open lines with timers running, and concurrent callers.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"
#include "hsms_peer.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {
namespace {

using namespace hsms_test;
using namespace std::chrono_literals;

TEST(SecsitcpDefaults, NewLine) {
    secsitcp line;
    EXPECT_EQ(line.line_type, ltHSMS);
    EXPECT_EQ(line.port, 5000);
    EXPECT_EQ(line.host(), "127.0.0.1");
    EXPECT_EQ(line.host_in_use(), "");
    EXPECT_EQ(line.conn_mode, cmALTERN);
    EXPECT_EQ(line.conn_mode_new, cmALTERN);
    EXPECT_EQ(line.conn_mode_cur, cmNONE);
    EXPECT_EQ(line.altern_counter, 0);
    EXPECT_EQ(line.max_altern_switches, 10);
    EXPECT_EQ(line.max_passv_connections, 15);
    EXPECT_EQ(line.hsms_state, 1);
    EXPECT_TRUE(line.single_session);
    EXPECT_EQ(line.T1, -1);
    EXPECT_EQ(line.T2, -1);
    EXPECT_EQ(line.T4, -1);
    EXPECT_EQ(line.retry, -1);
    EXPECT_EQ(line.baud_code, -1);
    EXPECT_EQ(line.T3, 45000);
    EXPECT_EQ(line.T5, 10000);
    EXPECT_EQ(line.T6, 5000);
    EXPECT_EQ(line.T7, 10000);
    EXPECT_EQ(line.T8, 5000);
    EXPECT_FALSE(line.master);
    EXPECT_EQ(line.out_device_id, 65535);
    EXPECT_EQ(line.out_source_id, 0);
    EXPECT_EQ(line.out_transaction_id, 2);
    EXPECT_EQ(line.idle_sleep, 200);
    EXPECT_EQ(line.msg.log_mask(), kDefaultLogMask);
    EXPECT_FALSE(line.port_opened);
    EXPECT_EQ(line.port_in_use, -1);
    EXPECT_EQ(line.GetPassvSelectedQuan(), 0);
    EXPECT_EQ(line.GetPassvSelectedSession(0), 0);
    EXPECT_TRUE(line.SetOutDeviceID(12));  // not passive: accepted
    EXPECT_EQ(line.dump_buffers(),
              "Modes: set=3  new=3  cur=-1  cou=0  max=10\n"
              "Inbox  has 0 unparsed messages.\n"
              "Outbox has 0 unsent messages.\n"
              "There  are 0 expected replies.\n"
              "There  are 0 connected clients:\n"
              "There  are 0 selected clients:\n");
    // Planning uses the HSMS out identifiers.
    ASSERT_EQ(line.SendMessage("S1F1 W"), 0);
    EXPECT_NE(line.dump_buffers().find("Outbox has 1 unsent messages.\n"), std::string::npos);
    const MessageRecord planned = line.msg.prepared_copy();
    EXPECT_EQ(planned.device_id, 65535);
    EXPECT_EQ(planned.transaction_id, 2);
}

// A passive and an active line in one process, each with its worker.
class LinePair : public ::testing::Test {
protected:
    void SetUp() override {
        const int port = free_port();
        for (secsitcp* line : {&equipment, &host}) {
            fast_timers(*line);
            line->port = port;
        }
        equipment.SetCQuill1(&equipment_events);
        host.SetCQuill1(&host_events);
        equipment.conn_mode = cmPASSIVE;
        equipment.conn_mode_new = cmPASSIVE;
        host.conn_mode = cmACTIVE;
        host.conn_mode_new = cmACTIVE;
    }

    void connect() {
        ASSERT_EQ(equipment.port_open(), 0);
        equipment_worker = std::make_unique<Worker>(equipment);
        ASSERT_EQ(host.port_open(), 0);
        host_worker = std::make_unique<Worker>(host);
        ASSERT_TRUE(equipment_events.wait_notify(nHSMSConnectionPassivePlus));
        ASSERT_TRUE(host_events.wait_notify(nHSMSConnectionActive));
    }

    void TearDown() override {
        host_worker.reset();
        equipment_worker.reset();
    }

    LogCapture log;
    RecordingOwner equipment_events;
    RecordingOwner host_events;
    secsitcp equipment;
    secsitcp host;
    std::unique_ptr<Worker> equipment_worker;
    std::unique_ptr<Worker> host_worker;
};

TEST_F(LinePair, RequestAndReplyThroughTheMessageLayer) {
    host.set_out_device_id(7);
    connect();
    EXPECT_EQ(equipment.out_device_id, 7);  // the session of the host's Select.req
    host.set_out_source_id(0x0A0B);
    host.set_out_transaction_id(0x0C0D);
    ASSERT_EQ(host.SendMessage("S1F1 W"), 0);
    ASSERT_TRUE(host_events.wait_written(1));
    ASSERT_TRUE(equipment_events.wait_reads(1));
    ASSERT_EQ(equipment.msg.NextMessage(), 0);
    EXPECT_EQ(equipment.msg.GetInStreamID(), 1);
    EXPECT_EQ(equipment.msg.GetInFunctionID(), 1);
    EXPECT_EQ(equipment.msg.GetInWBit(), 1);
    EXPECT_EQ(equipment.msg.GetInSourceID(), 0x0A0B);
    EXPECT_EQ(equipment.msg.GetInTransactionID(), 0x0C0D);
    ASSERT_EQ(equipment.Reply("S1F2 <L <A 'MDLN'> <A 'REV1'>>"), 0);
    ASSERT_TRUE(host_events.wait_reads(1));
    ASSERT_EQ(host.msg.NextMessage(), 0);
    EXPECT_EQ(host.msg.GetInFunctionID(), 2);
    EXPECT_EQ(host.msg.GetInRBit(), 1);
    EXPECT_EQ(host.msg.GetInTransactionID(), 0x0C0D);
    EXPECT_EQ(host.msg.GetElemGnrlQuan(), 3);
    host.msg.SetElemPointer("2");
    EXPECT_EQ(host.msg.GetElemValue(), "REV1");
    EXPECT_NE(host.dump_buffers().find("There  are 0 expected replies.\n"), std::string::npos);
    EXPECT_EQ(host_events.notify_count(nSecsErrorT3), 0);
    EXPECT_EQ(host_events.notify_count(nSecsErrorExtraBlock), 0);
}

TEST_F(LinePair, ManyRequestsAnsweredFromTheReadEvent) {
    connect();
    // The equipment answers inside OnSecsRead, as an automatic reply would.
    equipment_events.on_read = [this] {
        if (equipment.msg.NextMessage() == 0 && equipment.msg.GetInWBit()) equipment.Reply("S1F2 <L>");
    };
    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i) {
        host.set_out_transaction_id(i + 1);
        ASSERT_EQ(host.SendMessage("S1F1 W"), 0);
    }
    ASSERT_TRUE(host_events.wait_reads(kCount, 20000));
    int replies = 0;
    while (host.msg.NextMessage() == 0) {
        ++replies;
        EXPECT_EQ(host.msg.GetInFunctionID(), 2);
        EXPECT_EQ(host.msg.GetInTransactionID(), replies);  // in order
    }
    EXPECT_EQ(replies, kCount);
    EXPECT_EQ(host_events.notify_count(nSecsErrorExtraBlock), 0);
    equipment_events.on_read = nullptr;
}

// `line` reporting to `owner`, with short timers, in `mode` on a port where
// nobody listens.
void prepare(secsitcp& line, RecordingOwner& owner, int32_t mode) {
    line.SetCQuill1(&owner);
    fast_timers(line);
    line.conn_mode = line.conn_mode_new = mode;
    line.port = free_port();
}

// An S1F1 W request for session 1.
MessageRecord s1f1_request(int32_t transaction_id = 0) {
    MessageRecord m;
    m.device_id = 1;
    m.stream = 1;
    m.function = 1;
    m.w_bit = 1;
    m.transaction_id = transaction_id;
    return m;
}

TEST(SecsitcpAlternation, SwitchesModeEveryMaxAlternSwitchesAttempts) {
    LogCapture log;
    RecordingOwner owner;
    secsitcp line;
    prepare(line, owner, cmALTERN);  // nobody listens, nobody connects
    line.T5 = 30;
    line.max_altern_switches = 2;
    EXPECT_EQ(line.port_open(), -1);  // active first
    EXPECT_EQ(owner.notify_count(nSecsErrorPortOpenFailed), 1);
    {
        Worker worker(line);
        ASSERT_TRUE(owner.wait_notify(nHSMSAlternStartedPassive));
        ASSERT_TRUE(owner.wait_notify(nHSMSAlternStartedActive));
        ASSERT_TRUE(owner.wait_notify(nHSMSAlternStartedPassive, 2));
    }
    EXPECT_TRUE(log.contains("ACTIVE: switching to PASSIVE connecting mode"));
    EXPECT_TRUE(log.contains("PASSIVE: switching to ACTIVE connecting mode"));
    EXPECT_TRUE(log.contains("timeout: T5 - Connect Separation, no one connected in passive mode"));
    // Before the first switch: one failed active opening, and no listening.
    // (Later events come from the worker and the timer thread and may reach
    // the owner in either order.)
    const std::vector<int> n = owner.notifications();
    const auto passive = std::find(n.begin(), n.end(), nHSMSAlternStartedPassive);
    EXPECT_EQ(std::count(n.begin(), passive, nSecsErrorPortOpenFailed), 1);
    EXPECT_GE(std::count(n.begin(), n.end(), nSecsErrorT5), 4);  // two idle passive ports at least
    EXPECT_GE(std::count(n.begin(), n.end(), nSecsErrorPortOpenFailed), 2);
    line.active_wanted = false;
    line.port_disconnect();
}

TEST(SecsitcpAlternation, OneAttemptPerModeNeverSwitches) {
    RecordingOwner owner;
    secsitcp line;
    prepare(line, owner, cmALTERN);
    line.T5 = 20;
    line.max_altern_switches = 1;
    line.port_open();
    {
        Worker worker(line);
        ASSERT_TRUE(owner.wait_notify(nSecsErrorPortOpenFailed, 4));
    }
    EXPECT_EQ(owner.notify_count(nHSMSAlternStartedPassive), 0);
    EXPECT_EQ(line.altern_counter, 0);
    line.max_altern_switches = 0;  // cannot count: never switches either
    {
        Worker worker(line);
        ASSERT_TRUE(owner.wait_notify(nSecsErrorPortOpenFailed, 6));
    }
    EXPECT_EQ(owner.notify_count(nHSMSAlternStartedPassive), 0);
    line.active_wanted = false;
    line.port_disconnect();
}

TEST(SecsitcpTimers, ExhaustionIsReportedWhateverTheMask) {
    LogCapture log;
    RecordingOwner owner;
    secsitcp line;
    prepare(line, owner, cmPASSIVE);
    line.msg.set_log_mask(0);
    const size_t limit = timers::timer_limit();
    timers::set_timer_limit(timers::live_timers());
    EXPECT_EQ(line.port_open(), 0);  // opens, but its idle timer cannot run
    timers::set_timer_limit(limit);
    EXPECT_EQ(owner.notify_count(nSecsErrorNoMoreTimers), 1);
    EXPECT_TRUE(log.contains("ERROR: system timers exhausted"));
    EXPECT_TRUE(line.port_opened);

    // A client and a request whose T3 cannot run: the message still goes.
    Worker worker(line);
    Peer client = Peer::connect_to(line.port);
    ASSERT_TRUE(eventually([&] { return line.dump_buffers().find("There  are 1 connected") != std::string::npos; }));
    client.send(control(hsms::stSelectReq, 1));
    ASSERT_TRUE(client.read_header());
    timers::set_timer_limit(timers::live_timers());
    line.queue_message(s1f1_request());
    ASSERT_TRUE(client.read_header());
    ASSERT_TRUE(owner.wait_notify(nSecsErrorNoMoreTimers, 2));
    timers::set_timer_limit(limit);
    EXPECT_TRUE(owner.wait_written(1));
    EXPECT_NE(line.dump_buffers().find("There  are 1 expected replies.\n"), std::string::npos);
    // Without T3 the expectation waits for its reply.
    client.send(data_header(1, 1, 2, false, 0, 0, 0));
    ASSERT_TRUE(owner.wait_reads(1));
    EXPECT_NE(line.dump_buffers().find("There  are 0 expected replies.\n"), std::string::npos);
}

TEST(SecsitcpTimers, ActiveRetryWithoutATimerTriesAgainNextCycle) {
    RecordingOwner owner;
    secsitcp line;
    prepare(line, owner, cmACTIVE);
    const size_t limit = timers::timer_limit();
    timers::set_timer_limit(timers::live_timers());
    EXPECT_EQ(line.port_open(), -1);
    {
        Worker worker(line);
        EXPECT_TRUE(owner.wait_notify(nSecsErrorPortOpenFailed, 3));
    }
    timers::set_timer_limit(limit);
    EXPECT_GE(owner.notify_count(nSecsErrorNoMoreTimers), 3);
    line.active_wanted = false;
    line.port_disconnect();
}

TEST(SecsitcpLifetime, DestroyingOpenLinesWithTimersRunning) {
    RecordingOwner owner;
    const int port = free_port();
    Peer idle_client;
    Peer selected_client;
    {
        secsitcp line;
        line.SetCQuill1(&owner);
        fast_timers(line);
        line.T3 = 40;
        line.T7 = 40;
        line.T5 = 40;
        line.conn_mode = line.conn_mode_new = cmPASSIVE;
        line.port = port;
        ASSERT_EQ(line.port_open(), 0);
        Worker worker(line);
        idle_client = Peer::connect_to(port);
        selected_client = Peer::connect_to(port);
        selected_client.send(control(hsms::stSelectReq, 1));
        ASSERT_TRUE(selected_client.read_header());
        ASSERT_TRUE(eventually([&] { return line.GetPassvSelectedQuan() == 1; }));
        for (int i = 0; i < 20; ++i) line.queue_message(s1f1_request(i));
        ASSERT_TRUE(owner.wait_written(1, 5));
        worker.stop();
        // Destroyed open, with T3 timers (and maybe a T7) about to expire.
    }
    auto separate = selected_client.read_header();
    ASSERT_TRUE(separate);  // a few data messages may come first
    EXPECT_TRUE(selected_client.wait_closed());
    EXPECT_TRUE(idle_client.wait_closed());
    const size_t before = owner.notifications().size();
    std::this_thread::sleep_for(150ms);  // past every timer the line had
    EXPECT_EQ(owner.notifications().size(), before);
}

TEST(SecsitcpLifetime, DestroyingWhileATimerCallbackRaisesItsEvent) {
    // The owner's sink is slow: the destructor must wait for the callback in flight.
    class SlowOwner : public RecordingOwner {
    public:
        void OnSecsNotify(int code) override {
            if (code == nSecsErrorT5) std::this_thread::sleep_for(30ms);
            RecordingOwner::OnSecsNotify(code);
        }
    } owner;
    for (int round = 0; round < 5; ++round) {
        auto line = std::make_unique<secsitcp>();
        line->SetCQuill1(&owner);
        line->T5 = 1;
        line->conn_mode = line->conn_mode_new = cmACTIVE;
        line->port = free_port();
        line->port_open();  // fails; T5 fires almost at once
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        line.reset();
    }
    EXPECT_LE(owner.notify_count(nSecsErrorT5), 5);
}

// The process's socket descriptors: {descriptor, close-on-exec}.
std::vector<std::pair<int, bool>> sockets_of_process() {
    std::vector<std::pair<int, bool>> found;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return found;
    while (dirent* e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        char target[64] = {};
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        if (::readlink(path.c_str(), target, sizeof target - 1) <= 0) continue;
        if (std::string(target).rfind("socket:", 0) != 0) continue;
        found.emplace_back(fd, (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0);
    }
    ::closedir(dir);
    return found;
}

TEST(SecsitcpSockets, EverySocketIsCloseOnExecAndFailedOpeningsLeaveNone) {
    RecordingOwner owner;
    secsitcp equipment;
    secsitcp host;
    equipment.SetCQuill1(&owner);
    fast_timers(equipment);
    fast_timers(host);
    equipment.conn_mode = equipment.conn_mode_new = cmPASSIVE;
    host.conn_mode = host.conn_mode_new = cmACTIVE;
    host.port = equipment.port = free_port();
    const size_t before = sockets_of_process().size();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(host.port_open(), -1);  // nobody listens yet
    EXPECT_EQ(sockets_of_process().size(), before);
    ASSERT_EQ(equipment.port_open(), 0);
    Worker worker(equipment);
    ASSERT_EQ(host.port_open(), 0);
    ASSERT_TRUE(owner.wait_notify(nHSMSConnectionPassivePlus));
    const auto sockets = sockets_of_process();
    EXPECT_GE(sockets.size(), before + 3);  // listening, accepted, connected
    for (const auto& [fd, cloexec] : sockets) EXPECT_TRUE(cloexec) << fd;
    host.active_wanted = false;
    host.port_disconnect();
}

TEST(SecsitcpThreads, CallersWorkerAndTimersTogether) {
    RecordingOwner owner;
    secsitcp line;
    prepare(line, owner, cmPASSIVE);
    line.T3 = 30;
    line.T7 = 30;
    ASSERT_EQ(line.port_open(), 0);
    Worker worker(line);
    std::atomic<bool> stop{false};
    // Clients come, select, send and leave; some never select (T7).
    std::thread clients([&] {
        for (int i = 0; i < 30 && !stop; ++i) {
            Peer p = Peer::connect_to(line.port);
            if (!p.valid()) continue;
            if (i % 3 != 0) {
                p.send(control(hsms::stSelectReq, static_cast<uint16_t>(i)));
                p.read_header(500);
                p.send(data_header(static_cast<uint16_t>(i), 6, 11, false, 0, 1, 0));
                p.send(control(hsms::stLinktestReq, static_cast<uint16_t>(i)));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(i % 4 == 0 ? 40 : 5));
        }
    });
    std::thread callers([&] {
        for (int i = 0; i < 300 && !stop; ++i) {
            line.SendMessage("S1F1 W");
            line.SetOutDeviceID(i % 5);
            line.GetPassvSelectedQuan();
            line.GetPassvSelectedSession(i % 3);
            line.dump_buffers();
            line.msg.NextMessage();
            if (i % 100 == 50) line.init_line();
            std::this_thread::sleep_for(1ms);
        }
    });
    clients.join();
    callers.join();
    stop = true;
    worker.stop();
    line.active_wanted = false;
    line.port_disconnect();
    EXPECT_FALSE(line.port_opened);
}

}  // namespace
}  // namespace tarvo
