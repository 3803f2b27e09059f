// The HSMS line against careless and hostile peers: every send ends in one
// OnSecsWritten, replies and expected replies stay with their connection, T3
// for any number of outstanding primaries, and no peer can stall the worker
// or a closing.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <future>
#include <string>
#include <thread>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "hsms_peer.h"
#include "platform/sanitizers.h"

namespace tarvo {
namespace {

using namespace hsms_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

MessageRecord primary(int function, bool w, int device = 0xFFFF, int source = 0, int transaction = 2) {
    MessageRecord m;
    m.stream = 1;
    m.function = function;
    m.w_bit = w ? 1 : 0;
    m.device_id = device;
    m.source_id = source;
    m.transaction_id = transaction;
    return m;
}

Header answer_to(Header request, uint8_t stype) {
    request[9] = stype;
    return request;
}

// Sanitizers slow every callback down several times over.
constexpr int kSlowdown = kUnderSanitizer ? 4 : 1;

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class LineFaults : public ::testing::Test {
protected:
    void SetUp() override {
        line.SetCQuill1(&owner);
        fast_timers(line);
        line.T5 = 5000;
    }

    void passive() {
        line.port = free_port();
        line.conn_mode = line.conn_mode_new = cmPASSIVE;
        ASSERT_EQ(line.port_open(), 0);
        worker = std::make_unique<Worker>(line);
    }

    Peer selected(uint16_t session) {
        Peer p = Peer::connect_to(line.port);
        EXPECT_TRUE(p.valid());
        p.send(control(hsms::stSelectReq, session, 0, session));
        auto answer = p.read_header();
        EXPECT_TRUE(answer && (*answer)[7] == 0);
        return p;
    }

    // An active line selected by a peer accepted from `listener`.
    void active(Listener& listener, Peer& peer) {
        line.port = listener.port();
        line.conn_mode = line.conn_mode_new = cmACTIVE;
        auto opened = std::async(std::launch::async, [this] { return line.port_open(); });
        peer = listener.accept();
        auto request = peer.read_header();
        ASSERT_TRUE(request);
        peer.send(answer_to(*request, hsms::stSelectRsp));
        ASSERT_EQ(opened.get(), 0);
    }

    int outcomes() const { return owner.written(0) + owner.written(1); }

    LogCapture log;
    RecordingOwner owner;
    secsitcp line;
    std::unique_ptr<Worker> worker;  // runs a passive line
};

TEST_F(LineFaults, EverySendEndsOnceWhenThePeerClosesAndNothingReachesTheNextPeer) {
    Listener listener;
    Peer peer;
    ASSERT_NO_FATAL_FAILURE(active(listener, peer));
    line.msg.set_log_mask(0);
    constexpr int kSends = 2000;
    constexpr int kAnswered = 200;
    {
        Worker worker(line);
        for (int i = 0; i < kSends; ++i) line.queue_message(primary(1, true, 0xFFFF, 0, i));
        for (int i = 0; i < kAnswered; ++i) {
            auto h = peer.read_header();
            ASSERT_TRUE(h);
            Header reply = *h;
            reply[6] &= 0x7F;
            reply[7] = 2;
            peer.send(reply);
        }
        peer.close();
        ASSERT_TRUE(eventually([&] { return outcomes() >= kSends; }, 10000)) << outcomes();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(outcomes(), kSends) << "one OnSecsWritten per send, never two";
        // The line reconnects to the next peer: nothing queued for the old one goes there.
        Peer next = listener.accept(5000);
        ASSERT_TRUE(next.valid());
        auto request = next.read_header();
        ASSERT_TRUE(request);
        next.send(answer_to(*request, hsms::stSelectRsp));
        EXPECT_TRUE(next.quiet(150));
    }
    EXPECT_EQ(outcomes(), kSends);
    line.active_wanted = false;
    line.port_disconnect();
}

TEST_F(LineFaults, AMessageLongerThanAPeerTakesIsRefusedLikeAnUnplannableText) {
    MessageRecord huge = primary(1, false);
    huge.body.assign(hsms::kMaxMessageLength - hsms::kControlLength + 1, '\0');
    EXPECT_EQ(line.queue_message(huge), -1);
    EXPECT_EQ(owner.notifications(), std::vector<int>{nSecsErrorListIncorrect});
    EXPECT_EQ(owner.written(0), 1);
    huge.body.pop_back();  // exactly the bound goes
    EXPECT_EQ(line.queue_message(huge), 0);
    EXPECT_NE(line.dump_buffers().find("Outbox has 1 unsent messages."), std::string::npos);
}

TEST_F(LineFaults, QueuedReplyEndsWithWrittenZeroWhenTheLineCloses) {
    ASSERT_NO_FATAL_FAILURE(passive());
    Peer a = selected(1);
    a.send(data_header(1, 1, 1, true, 0, 9, 0));
    ASSERT_TRUE(owner.wait_reads(1));
    worker.reset();
    line.msg.NextMessage();
    ASSERT_EQ(line.Reply("S1F2 <L>"), 0);  // queued; no worker sends it
    line.active_wanted = false;
    line.port_disconnect();
    EXPECT_EQ(owner.written(0), 1);
    EXPECT_EQ(owner.written(1), 0);
    EXPECT_TRUE(log.contains("Message was not sent. Name: 'S1F2'"));
}

TEST_F(LineFaults, ReplyGoesOnlyToTheConnectionItsPrimaryCameFrom) {
    ASSERT_NO_FATAL_FAILURE(passive());
    Peer a = selected(1);
    Peer b = selected(2);
    // B asks with A's session ID: the reply still goes back to B.
    b.send(data_header(1, 1, 1, true, 0, 0x21, 0));
    ASSERT_TRUE(owner.wait_reads(1));
    line.msg.NextMessage();
    ASSERT_EQ(line.Reply("S1F2 <L>"), 0);
    auto h = b.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(hsms::function(*h), 2);
    EXPECT_EQ(hsms::transaction_id(*h), 0x21);
    EXPECT_TRUE(a.quiet(60));

    // A asks, then leaves before the reply is queued: the reply goes nowhere.
    a.send(data_header(1, 1, 1, true, 0, 0x22, 0));
    ASSERT_TRUE(owner.wait_reads(2));
    line.msg.NextMessage();
    a.close();
    ASSERT_TRUE(owner.wait_notify(nHSMSConnectionPassiveMinus));
    ASSERT_EQ(line.Reply("S1F2 <L>"), 0);
    ASSERT_TRUE(owner.wait_written(0));
    auto stray = b.read_header(100);
    EXPECT_FALSE(stray) << "a reply is never handed to another client: " << (stray ? hex(*stray) : "");
}

TEST_F(LineFaults, OnlyASecondaryFromItsOwnConnectionAnswersAnExpectedReply) {
    ASSERT_NO_FATAL_FAILURE(passive());
    Peer a = selected(1);
    Peer b = selected(2);
    line.queue_message(primary(1, true, 1, 0, 7));  // S1F1W to A
    auto sent = a.read_header();
    ASSERT_TRUE(sent);
    // A primary from A with the same system bytes is a message of its own.
    a.send(data_header(1, 1, 1, true, 0, 7, 0));
    ASSERT_TRUE(owner.wait_reads(1));
    // B's secondary with those system bytes answers nothing of B's.
    b.send(data_header(1, 1, 2, false, 0, 7, 0));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorExtraBlock));
    EXPECT_EQ(owner.reads(), 1);
    // A's real reply is taken.
    a.send(data_header(1, 1, 2, false, 0, 7, 0));
    ASSERT_TRUE(owner.wait_reads(2));
    EXPECT_EQ(owner.notify_count(nSecsErrorExtraBlock), 1);
    EXPECT_NE(line.dump_buffers().find("There  are 0 expected replies.\n"), std::string::npos);
}

TEST_F(LineFaults, EveryOutstandingPrimaryExpiresBeyondFourThousandTimers) {
    Listener listener;
    Peer peer;
    ASSERT_NO_FATAL_FAILURE(active(listener, peer));
    line.msg.set_log_mask(0);
    line.T3 = 500;
    constexpr int kPrimaries = 4500;  // more than the 4096 timers a process once had
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        while (draining && peer.read_header(100)) {
        }
    });
    {
        Worker worker(line);
        for (int i = 0; i < kPrimaries; ++i) line.queue_message(primary(1, true, 0xFFFF, 1, i));
        ASSERT_TRUE(owner.wait_written(1, kPrimaries, 10000));
        const auto all_sent = Clock::now();
        ASSERT_TRUE(owner.wait_notify(nSecsErrorT3, kPrimaries, 5000)) << owner.notify_count(nSecsErrorT3);
        EXPECT_LT(elapsed_ms(all_sent), 500 + 1000 * kSlowdown);
        EXPECT_EQ(owner.notify_count(nSecsErrorNoMoreTimers), 0);
    }
    draining = false;
    drain.join();
    line.active_wanted = false;
    line.port_disconnect();
}

TEST_F(LineFaults, ASlowSenderStallsNeitherOtherClientsNorClosing) {
    ASSERT_NO_FATAL_FAILURE(passive());
    line.T8 = 400;  // each gap below stays inside it
    Peer slow = selected(1);
    const Header h = data_header(1, 1, 1, true, 0, 3, 4);
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        for (size_t i = 0; i < h.size() && trickling; ++i) {
            slow.send(&h[i], 1);
            std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(150ms);
    const auto start = Clock::now();
    Peer other = selected(2);
    EXPECT_LT(elapsed_ms(start), 300) << "the other client's Select.req waited for the slow one";
    other.send(data_header(2, 1, 1, false, 0, 4, 0));
    EXPECT_TRUE(owner.wait_reads(1, 300));

    const auto closing = Clock::now();
    line.active_wanted = false;
    line.port_disconnect();
    EXPECT_LT(elapsed_ms(closing), 250);
    trickling = false;
    trickle.join();
}

TEST_F(LineFaults, AGapBeyondT8EndsOnlyThatConnection) {
    ASSERT_NO_FATAL_FAILURE(passive());
    Peer stalled = selected(1);
    Peer other = selected(2);
    const Header header = data_header(1, 1, 1, false, 0, 3, 8);
    const struct {
        size_t bytes;
        const char* record;
    } rows[] = {{5, "while reading message header"}, {14 + 3, "while reading message body"}};
    int round = 0;
    for (const auto& row : rows) {
        ++round;
        std::string wire(reinterpret_cast<const char*>(header.data()), header.size());
        wire += std::string(8, '\x01');
        stalled.send(wire.data(), row.bytes);
        ASSERT_TRUE(owner.wait_notify(nSecsErrorT8, round)) << row.record;
        EXPECT_TRUE(stalled.wait_closed());
        EXPECT_TRUE(log.wait_contains(std::string("ERROR: timeout T6 or T8 - inter-character - ") + row.record));
        EXPECT_EQ(line.GetPassvSelectedQuan(), 1);
        stalled = selected(static_cast<uint16_t>(10 + round));
    }
    other.send(data_header(2, 1, 1, false, 0, 4, 0));
    EXPECT_TRUE(owner.wait_reads(1));
}

TEST_F(LineFaults, AnOpeningInProgressGivesUpPromptlyWhenTheLineIsNoLongerWanted) {
    const struct {
        const char* why;
        bool stop;  // the owner stops the line, rather than deactivating it
    } rows[] = {{"SetActive(0)", false}, {"release", true}};
    for (const auto& row : rows) {
        Listener silent;  // accepts, never answers Select.req
        line.port = silent.port();
        line.T6 = 5000;
        line.conn_mode = line.conn_mode_new = cmACTIVE;
        line.stopping = false;
        auto opened = std::async(std::launch::async, [this] { return line.port_open(); });
        Peer peer = silent.accept();
        ASSERT_TRUE(peer.read_header()) << row.why;
        const auto start = Clock::now();
        if (row.stop) {
            line.stopping = true;
        } else {
            line.active_wanted = false;
        }
        EXPECT_EQ(opened.get(), -1) << row.why;
        EXPECT_LT(elapsed_ms(start), 250) << row.why;
        line.active_wanted = false;
        line.port_disconnect();
    }
}

TEST_F(LineFaults, AnIdleLineSleepsUntilThereIsSomethingToDo) {
    line.idle_sleep = 20;  // a polling worker would run 25 cycles in half a second
    const auto idle_cycles = [&](Worker& worker) {
        std::this_thread::sleep_for(100ms);  // settled
        const long before = worker.cycles();
        std::this_thread::sleep_for(500ms);
        return worker.cycles() - before;
    };
    {
        Worker worker(line);  // closed, not wanted
        EXPECT_LE(idle_cycles(worker), 1) << "closed";
    }
    Listener listener;
    Peer peer;
    ASSERT_NO_FATAL_FAILURE(active(listener, peer));
    {
        Worker worker(line);  // selected, nothing to do
        EXPECT_LE(idle_cycles(worker), 1) << "selected";
        // ...and it still answers at once.
        peer.send(control(hsms::stLinktestReq));
        EXPECT_TRUE(peer.read_header(1000));
    }
    line.active_wanted = false;
    line.port_disconnect();
    ASSERT_NO_FATAL_FAILURE(passive());
    EXPECT_LE(idle_cycles(*worker), 1) << "listening";
}

// An owner whose sink blocks inside the T3 notification until released.
class BlockingOwner : public RecordingOwner {
public:
    void OnSecsNotify(int code) override {
        RecordingOwner::OnSecsNotify(code);
        if (code != nSecsErrorT3) return;
        std::unique_lock<std::mutex> lock(mutex_);
        released_cv_.wait(lock, [&] { return released_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        released_cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
};

TEST(LineTimers, ASinkBlockedInOneLinesT3DelaysNoOtherLinesTimers) {
    BlockingOwner stuck_owner;
    RecordingOwner other_owner;
    secsitcp stuck;
    secsitcp other;
    Listener stuck_listener;
    Listener other_listener;
    Peer peers[2];
    const struct {
        secsitcp& line;
        RecordingOwner& owner;
        Listener& listener;
        int32_t t3;
    } lines[] = {{stuck, stuck_owner, stuck_listener, 100}, {other, other_owner, other_listener, 400}};
    for (int i = 0; i < 2; ++i) {
        const auto& l = lines[i];
        l.line.SetCQuill1(&l.owner);
        fast_timers(l.line);
        l.line.T3 = l.t3;
        l.line.port = l.listener.port();
        l.line.conn_mode = l.line.conn_mode_new = cmACTIVE;
        auto opened = std::async(std::launch::async, [&] { return l.line.port_open(); });
        peers[i] = l.listener.accept();
        auto request = peers[i].read_header();
        ASSERT_TRUE(request);
        peers[i].send(answer_to(*request, hsms::stSelectRsp));
        ASSERT_EQ(opened.get(), 0);
    }
    {
        Worker stuck_worker(stuck);
        Worker other_worker(other);
        stuck.queue_message(primary(1, true));
        ASSERT_TRUE(stuck_owner.wait_notify(nSecsErrorT3));  // its sink is now blocked
        const auto sent = Clock::now();
        other.queue_message(primary(1, true));
        ASSERT_TRUE(other_owner.wait_notify(nSecsErrorT3, 1, 400 + 1000 * kSlowdown));
        EXPECT_LT(elapsed_ms(sent), 400 + 1000 * kSlowdown);
        stuck_owner.release();
    }
    for (secsitcp* l : {&stuck, &other}) {
        l->active_wanted = false;
        l->port_disconnect();
    }
}

}  // namespace
}  // namespace tarvo
