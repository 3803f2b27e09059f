// An active HSMS line against a scripted peer: the selection, the control
// messages, data messages with replies and T3, broken or hostile byte
// streams (T8, lengths out of range) and changes while open.
#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <ostream>
#include <string>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "hsms_peer.h"

namespace tarvo {
namespace {

using namespace hsms_test;
using namespace std::chrono_literals;

MessageRecord record(int stream, int function, bool w, std::string body = "", int device = 0xFFFF, int source = 0,
                     int transaction = 2) {
    MessageRecord m;
    m.stream = stream;
    m.function = function;
    m.w_bit = w ? 1 : 0;
    m.device_id = device;
    m.source_id = source;
    m.transaction_id = transaction;
    m.body = std::move(body);
    return m;
}

Header answer_to(Header request, uint8_t stype, uint8_t byte3 = 0) {
    request[9] = stype;
    request[7] = byte3;
    return request;
}

class ActiveLine : public ::testing::Test {
protected:
    void SetUp() override {
        line.SetCQuill1(&owner);
        fast_timers(line);
        line.port = listener.port();
        line.conn_mode = cmACTIVE;
        line.conn_mode_new = cmACTIVE;
    }

    // Opens the line on a helper thread (as SetActive does on the caller's)
    // while `answer` plays the peer's part after reading the Select.req.
    int open_with(Peer& peer, const std::function<void(Peer&, const Header&)>& answer) {
        auto result = std::async(std::launch::async, [this] { return line.port_open(); });
        peer = listener.accept();
        if (peer.valid()) {
            if (auto request = peer.read_header()) {
                select_request = *request;
                answer(peer, *request);
            }
        }
        return result.get();
    }

    int open_selected(Peer& peer) {
        return open_with(peer, [](Peer& p, const Header& h) { p.send(answer_to(h, hsms::stSelectRsp)); });
    }

    // The peer sends a data message and the line is to deliver it.
    void send_data(Peer& peer, const Header& h, const std::string& body) {
        ASSERT_TRUE(peer.send(h));
        if (!body.empty()) {
            ASSERT_TRUE(peer.send(body.data(), body.size()));
        }
    }

    LogCapture log;  // outlives the line, which writes records until it is gone
    RecordingOwner owner;
    Listener listener;
    secsitcp line;
    Header select_request{};
};

TEST_F(ActiveLine, OpeningSelectsWithTheOutIdentifiers) {
    line.out_device_id = 0x0102;
    line.out_source_id = 0x0304;
    line.out_transaction_id = 0x0506;
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    EXPECT_EQ(hex(select_request), "00 00 00 0a 01 02 00 00 00 01 03 04 05 06");
    EXPECT_TRUE(line.port_opened);
    EXPECT_TRUE(line.active_wanted);
    EXPECT_EQ(line.hsms_state, 3);
    EXPECT_EQ(line.conn_mode_cur, cmACTIVE);
    EXPECT_EQ(line.port_in_use, listener.port());
    EXPECT_EQ(line.host_in_use(), "127.0.0.1");
    EXPECT_EQ(owner.notifications(), std::vector<int>{nHSMSConnectionActive});
    EXPECT_TRUE(log.contains("ACTIVE opening port"));
    EXPECT_TRUE(log.contains("ACTIVE connection established to port  '" + std::to_string(listener.port()) +
                             "'  of host  '127.0.0.1'"));
    // A second opening of an open line changes nothing.
    EXPECT_EQ(line.port_open(), 0);
    EXPECT_TRUE(peer.quiet(50));
}

struct RefusedSelect {
    uint8_t status;
    int code;
    const char* record;
};

void PrintTo(const RefusedSelect& c, std::ostream* out) { *out << "status " << int(c.status); }

class ActiveLineSelectStatus : public ActiveLine, public ::testing::WithParamInterface<RefusedSelect> {};

TEST_P(ActiveLineSelectStatus, RefusedSelectionFailsTheOpeningAndClosesTheSocket) {
    const RefusedSelect& c = GetParam();
    Peer peer;
    EXPECT_EQ(open_with(peer, [&](Peer& p, const Header& h) { p.send(answer_to(h, hsms::stSelectRsp, c.status)); }),
              -1);
    EXPECT_EQ(owner.notify_count(c.code), 1);
    EXPECT_TRUE(log.contains(c.record));
    EXPECT_TRUE(log.contains("ACTIVE getting  select.rsp  failed"));
    EXPECT_TRUE(peer.next_is_close());  // not left open until the next attempt
    EXPECT_FALSE(line.port_opened);
    EXPECT_EQ(line.conn_mode_cur, cmNONE);
    EXPECT_EQ(line.hsms_state, 1);
    // T5 later: the next attempt may follow (a worker would tell it with 21).
    EXPECT_TRUE(log.wait_contains("timeout: T5 - Connect Separation, trying to reopen port"));
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ActiveLineSelectStatus,
    ::testing::Values(RefusedSelect{1, nSecsErrorSelectAlreadyAct, "Select.rsp: communication already active"},
                      RefusedSelect{2, nSecsErrorSelectNotReady, "Select.rsp: communication not ready"},
                      RefusedSelect{3, nSecsErrorSelectConnExhaust, "Select.rsp: communication exhaust"},
                      RefusedSelect{200, nSecsErrorSelectReserved, "Select.rsp: communication exhaust"}),
    [](const ::testing::TestParamInfo<RefusedSelect>& info) { return "Status" + std::to_string(info.param.status); });

TEST_F(ActiveLine, WrongOrMissingAnswerToSelect) {
    Peer peer;
    EXPECT_EQ(open_with(peer, [](Peer& p, const Header& h) { p.send(answer_to(h, hsms::stLinktestReq)); }), -1);
    EXPECT_EQ(owner.notify_count(nSecsErrorMessageType), 1);
    EXPECT_TRUE(log.contains("ERROR: Received wrong message type"));
    EXPECT_TRUE(peer.next_is_close());

    // A Select.rsp with a body is no Select.rsp.
    Peer second;
    EXPECT_EQ(open_with(second, [](Peer& p, const Header& h) { p.send(with_length(answer_to(h, 2), 11)); }), -1);
    EXPECT_EQ(owner.notify_count(nSecsErrorMessageType), 2);

    // No answer within T6: reported as 24.
    line.T6 = 50;
    Peer third;
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(open_with(third, [](Peer&, const Header&) {}), -1);
    EXPECT_TRUE(on_time(ms_since(asked), 50));
    EXPECT_EQ(owner.notify_count(nSecsErrorT8), 1);
    EXPECT_TRUE(log.contains("ERROR: timeout T6 or T8 - inter-character - while reading message header"));
    EXPECT_EQ(owner.notify_count(nSecsErrorT6), 0);
    EXPECT_TRUE(third.next_is_close());
}

TEST_F(ActiveLine, ConnectFailures) {
    line.port = free_port();  // nobody listens there
    EXPECT_EQ(line.port_open(), -1);
    EXPECT_EQ(owner.notify_count(nSecsErrorPortOpenFailed), 1);
    EXPECT_TRUE(log.contains("ACTIVE 'connect()' failed: WSAGetLastError = '" + std::to_string(ECONNREFUSED) +
                             "', host '127.0.0.1', port '" + std::to_string(line.port) + "'"));
    // (Without a worker the T5 notification is not raised; its record is written.)
    EXPECT_TRUE(log.wait_contains("timeout: T5 - Connect Separation, trying to reopen port"));

    // A host is a dotted address, never a name to look up.
    line.set_host("localhost");
    EXPECT_EQ(line.port_open(), -1);
    EXPECT_EQ(owner.notify_count(nSecsErrorPortOpenFailed), 2);
    EXPECT_TRUE(log.contains("host 'localhost'"));
}

TEST_F(ActiveLine, RequestAndReplyWithAnotherFunctionCancelsT3) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.T3 = 150;
    Worker worker(line);
    line.queue_message(record(1, 1, true, std::string("\x01\x00", 2), 0xFFFF, 1, 2));
    auto h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(hex(*h), "00 00 00 0c ff ff 81 01 00 00 00 01 00 02");
    auto body = peer.read_bytes(2);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, (Bytes{0x01, 0x00}));
    EXPECT_TRUE(owner.wait_written(1));
    EXPECT_TRUE(log.wait_contains("Message was sent. Name: 'S1F1W'"));

    // S1F4 answers S1F1W: the function is not compared.
    send_data(peer, data_header(0xFFFF, 1, 4, false, 1, 2, 2), std::string("\x01\x00", 2));
    ASSERT_TRUE(owner.wait_reads(1));
    EXPECT_EQ(line.msg.NextMessage(), 0);
    EXPECT_EQ(line.msg.GetInStreamID(), 1);
    EXPECT_EQ(line.msg.GetInFunctionID(), 4);
    EXPECT_EQ(line.msg.GetInRBit(), 1);
    EXPECT_EQ(line.msg.GetInWBit(), 0);
    EXPECT_EQ(line.msg.GetInDeviceID(), 0xFFFF);
    EXPECT_EQ(line.msg.GetInSourceID(), 1);
    EXPECT_EQ(line.msg.GetInTransactionID(), 2);
    EXPECT_TRUE(log.wait_contains("Received message. Name: 'S1F4'"));
    std::this_thread::sleep_for(250ms);  // beyond T3
    EXPECT_EQ(owner.notify_count(nSecsErrorT3), 0);
    EXPECT_EQ(line.dump_buffers().find("There  are 0 expected replies.\n") != std::string::npos, true);
}

TEST_F(ActiveLine, LateReplyIsUnexpected) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.T3 = 60;
    Worker worker(line);
    line.queue_message(record(1, 1, true, "", 0xFFFF, 0, 7));
    ASSERT_TRUE(peer.read_header());
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT3));
    EXPECT_TRUE(on_time(ms_since(sent), 60));
    EXPECT_TRUE(log.wait_contains("ERROR: timeout T3 - waiting for reply to 'S1F1W'"));
    send_data(peer, data_header(0xFFFF, 1, 2, false, 0, 7, 0), "");
    ASSERT_TRUE(owner.wait_notify(nSecsErrorExtraBlock));
    EXPECT_TRUE(log.wait_contains("Received unexpected message. Name% 'S1F2'"));
    EXPECT_EQ(owner.reads(), 0);
    EXPECT_EQ(line.msg.inbox_count(), 0u);
}

TEST_F(ActiveLine, PrimariesAreDeliveredUnexpectedSecondariesAreNot) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    send_data(peer, data_header(5, 2, 2, false, 0, 1, 2), std::string("\x01\x00", 2));  // nobody asked
    send_data(peer, data_header(5, 6, 11, false, 0, 2, 2), std::string("\x01\x00", 2));  // primary, no W
    send_data(peer, data_header(5, 1, 13, true, 0, 3, 0), "");                          // empty body
    ASSERT_TRUE(owner.wait_reads(2));
    EXPECT_EQ(owner.notify_count(nSecsErrorExtraBlock), 1);
    line.msg.NextMessage();
    EXPECT_EQ(line.msg.GetInStreamID(), 6);
    EXPECT_EQ(line.msg.GetInFunctionID(), 11);
    EXPECT_EQ(line.msg.GetInWBit(), 0);
    line.msg.NextMessage();
    EXPECT_EQ(line.msg.GetInFunctionID(), 13);
    EXPECT_EQ(line.msg.GetInWBit(), 1);
    EXPECT_EQ(line.msg.GetInDeviceID(), 5);
    EXPECT_EQ(line.msg.GetElemGnrlQuan(), 0);
}

TEST_F(ActiveLine, ControlMessagesAreAnsweredInPlace) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);

    const Header linktest = control(hsms::stLinktestReq, 0x1234, 5, 6);
    peer.send(linktest);
    auto h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(*h, answer_to(linktest, hsms::stLinktestRsp));

    // Unsolicited answers are rejected as answering no open transaction (3),
    // unknown STypes as not supported (1), other PTypes likewise (2); the
    // Reject.req carries the rejected message's session ID and system bytes
    // and its SType (PType) in byte 2. Never "SType + 1".
    const struct {
        uint8_t ptype, stype, reason, notify;
    } rejects[] = {{0, hsms::stLinktestRsp, 3, nSecsErrorExtraBlock}, {0, hsms::stDeselectRsp, 3, nSecsErrorExtraBlock},
                   {0, hsms::stSelectRsp, 3, nSecsErrorExtraBlock},   {0, 8, 1, nSecsErrorMessageType},
                   {0, 10, 1, nSecsErrorMessageType},                  {0, 255, 1, nSecsErrorMessageType},
                   {1, hsms::stData, 2, nSecsErrorMessageType},        {7, hsms::stLinktestReq, 2, nSecsErrorMessageType}};
    int seen[64] = {};
    for (const auto& r : rejects) {
        Header in = control(r.stype, 0x0042, 1, 2);
        in[8] = r.ptype;
        peer.send(in);
        h = peer.read_header();
        ASSERT_TRUE(h);
        Header want = in;
        want[6] = r.ptype != 0 ? r.ptype : r.stype;
        want[7] = r.reason;
        want[8] = 0;
        want[9] = hsms::stRejectReq;
        EXPECT_EQ(hex(*h), hex(want)) << int(r.ptype) << "/" << int(r.stype);
        EXPECT_TRUE(owner.wait_notify(r.notify, ++seen[r.notify])) << int(r.stype);
    }
    EXPECT_EQ(line.msg.inbox_count(), 0u);

    // An active line has its one connection: status 3.
    const Header select = control(hsms::stSelectReq, 9, 0, 1);
    peer.send(select);
    h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(*h, answer_to(select, hsms::stSelectRsp, 3));

    // A Reject.req is reported, not answered, whatever its reason byte.
    peer.send(control(hsms::stRejectReq, 0xFFFF, 0, 2, 3));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorReject));
    EXPECT_TRUE(peer.quiet(60));
    EXPECT_TRUE(log.contains("line sent reject"));

    // A control SType with a body goes the data way: read whole, rejected.
    peer.send(with_length(control(hsms::stLinktestReq, 1, 2, 3), 14));
    peer.send(Bytes{1, 2, 3, 4});
    h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(hex(*h), "00 00 00 0a 00 01 05 01 00 07 00 02 00 03");
    EXPECT_TRUE(owner.wait_notify(nSecsErrorMessageType, seen[nSecsErrorMessageType] + 1));

    // The stream is still in step: a linktest afterwards is answered.
    peer.send(linktest);
    h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(*h, answer_to(linktest, hsms::stLinktestRsp));
    EXPECT_TRUE(line.port_opened);
    EXPECT_EQ(line.hsms_state, 3);
}

TEST_F(ActiveLine, DeselectIsAnsweredThenTheLineClosesAndReconnects) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    const Header deselect = control(hsms::stDeselectReq, 0xFFFF, 3, 4);
    peer.send(deselect);
    auto h = peer.read_header();
    ASSERT_TRUE(h);
    EXPECT_EQ(*h, answer_to(deselect, hsms::stDeselectRsp));
    EXPECT_TRUE(peer.next_is_close());  // no Separate.req after a deselection

    Peer again;
    ASSERT_EQ(open_with(again, [](Peer& p, const Header& r) { p.send(answer_to(r, hsms::stSelectRsp)); }), 0);
    EXPECT_TRUE(owner.wait_notify(nHSMSConnectionActive, 2));
}

TEST_F(ActiveLine, SeparateEndsTheConnectionWithoutAnswer) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    peer.send(control(hsms::stSeparateReq));
    EXPECT_TRUE(peer.next_is_close());
    EXPECT_TRUE(log.wait_contains("line sent separate"));
    // active_wanted still set: the worker opens again.
    Peer again = listener.accept();
    ASSERT_TRUE(again.valid());
    auto request = again.read_header();
    ASSERT_TRUE(request);
    EXPECT_EQ(hsms::stype(*request), hsms::stSelectReq);
}

TEST_F(ActiveLine, InterCharacterLimitIsBetweenBytesNotForTheWholeMessage) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.T8 = 120;
    Worker worker(line);
    const Header h = data_header(1, 6, 11, false, 0, 1, 2);
    // Four pieces 50 ms apart: 150 ms in all, more than T8, each gap less.
    peer.send(h.data(), 5);
    std::this_thread::sleep_for(50ms);
    peer.send(h.data() + 5, 5);
    std::this_thread::sleep_for(50ms);
    peer.send(h.data() + 10, 4);
    std::this_thread::sleep_for(50ms);
    peer.send(Bytes{0x01, 0x00});
    ASSERT_TRUE(owner.wait_reads(1));
    EXPECT_EQ(owner.notify_count(nSecsErrorT8), 0);
}

TEST_F(ActiveLine, TruncatedHeaderOrBodyEndsTheConnection) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.T8 = 50;
    Worker worker(line);
    const Header h = data_header(1, 6, 11, false, 0, 1, 10);
    peer.send(h.data(), 6);
    auto stalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT8));
    EXPECT_TRUE(on_time(ms_since(stalled), 50)) << "the gap inside a header";
    EXPECT_TRUE(log.wait_contains("ERROR: timeout T6 or T8 - inter-character - while reading message header"));
    EXPECT_TRUE(peer.next_is_close());

    Peer again;
    ASSERT_EQ(open_with(again, [](Peer& p, const Header& r) { p.send(answer_to(r, hsms::stSelectRsp)); }), 0);
    again.send(h);
    again.send(Bytes{1, 2, 3});
    stalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT8, 2));
    EXPECT_TRUE(on_time(ms_since(stalled), 50)) << "the gap inside a body";
    EXPECT_TRUE(log.wait_contains("ERROR: timeout T6 or T8 - inter-character - while reading message body"));
    EXPECT_TRUE(again.next_is_close());
    EXPECT_EQ(owner.reads(), 0);
}

class ActiveLineLength : public ActiveLine, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ActiveLineLength, LengthOutOfRangeEndsTheConnection) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    peer.send(with_length(data_header(1, 6, 11, false, 0, 1, 0), GetParam()));
    peer.send(Bytes(16, 0x01));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorPortReadFailed));
    EXPECT_TRUE(peer.next_is_close());
    EXPECT_TRUE(log.wait_contains("Message length '" + std::to_string(GetParam()) + "'"));
    EXPECT_EQ(owner.reads(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ActiveLineLength,
                         ::testing::Values(0u, 9u, hsms::kMaxMessageLength + 1, 0x7FFFFFFFu, 0xFFFFFFFFu));

TEST_F(ActiveLine, SendThatCannotFinishLosesTheMessage) {
    Listener small(4096);
    line.port = small.port();
    auto result = std::async(std::launch::async, [this] { return line.port_open(); });
    Peer peer = small.accept();
    auto request = peer.read_header();
    ASSERT_TRUE(request);
    peer.send(answer_to(*request, hsms::stSelectRsp));
    ASSERT_EQ(result.get(), 0);
    line.T8 = 100;
    Worker worker(line);
    // The peer reads nothing: the buffers fill and the sending stalls.
    line.queue_message(record(6, 11, false, std::string(16 << 20, '\x01')));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorPortWriteFailed, 1, 10000));
    EXPECT_TRUE(owner.wait_written(0));
    EXPECT_EQ(owner.written(1), 0);
    EXPECT_TRUE(log.wait_contains("ERROR sending. WSAGetLastError = '" + std::to_string(ETIMEDOUT) + "'"));
    EXPECT_TRUE(log.wait_contains("Message was not sent. Name: 'S6F11'"));
    EXPECT_TRUE(peer.wait_closed(10000));  // part of a message went out: the connection ends
}

TEST_F(ActiveLine, SendingToAPeerThatHasGoneRaisesNoSignal) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.queue_message(record(6, 11, false));
    peer.send(control(hsms::stLinktestReq));
    peer.close();
    std::this_thread::sleep_for(20ms);
    // One cycle, run here: the linktest answer meets a closed socket (the
    // peer resets), then the queued message finds the connection broken.
    line.Step();
    EXPECT_EQ(owner.notify_count(nSecsErrorPortWriteFailed), 1);
    EXPECT_EQ(owner.written(0), 1);
}

TEST_F(ActiveLine, NewPortTakesEffectAtOnce) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    Listener other;
    line.port = other.port();
    line.wake();  // as SetPort does: the worker acts on it at once
    auto separate = peer.read_header();
    ASSERT_TRUE(separate);
    EXPECT_EQ(hex(*separate), "00 00 00 0a ff ff 00 00 00 09 00 00 00 02");
    EXPECT_TRUE(peer.next_is_close());
    Peer moved = other.accept();
    ASSERT_TRUE(moved.valid());
    auto request = moved.read_header();
    ASSERT_TRUE(request);
    moved.send(answer_to(*request, hsms::stSelectRsp));
    ASSERT_TRUE(owner.wait_notify(nHSMSConnectionActive, 2));
    EXPECT_TRUE(eventually([&] { return line.port_in_use == other.port(); }));
}

TEST_F(ActiveLine, NewHostWaitsForTheNextOpening) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    line.set_host("127.0.0.2");
    EXPECT_TRUE(peer.quiet(100));
    EXPECT_TRUE(line.port_opened);
    EXPECT_EQ(line.host_in_use(), "127.0.0.1");
    // The listener is on 127.0.0.1 only: the next opening, to the new host, is refused.
    peer.send(control(hsms::stSeparateReq));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorPortOpenFailed));
    EXPECT_TRUE(log.wait_contains("host '127.0.0.2'"));
}

TEST_F(ActiveLine, ClosingSeparatesAndForgetsTheConnection) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    Worker worker(line);
    line.active_wanted = false;
    EXPECT_EQ(line.port_disconnect(), 0);
    auto separate = peer.read_header();
    ASSERT_TRUE(separate);
    EXPECT_EQ(hex(*separate), "00 00 00 0a ff ff 00 00 00 09 00 00 00 02");
    EXPECT_TRUE(peer.next_is_close());
    EXPECT_FALSE(line.port_opened);
    EXPECT_EQ(line.conn_mode_cur, cmNONE);
    EXPECT_EQ(line.port_in_use, -1);
    EXPECT_EQ(line.hsms_state, 1);
    EXPECT_EQ(line.host_in_use(), "");
    EXPECT_TRUE(log.contains("ACTIVE port closed"));
    EXPECT_FALSE(listener.accept(150).valid());  // not wanted: no reopening
    EXPECT_EQ(line.port_disconnect(), 0);        // closing a closed line does nothing
}

TEST_F(ActiveLine, MessageWhoseTurnComesWhileClosedIsGivenUpNotKeptForLater) {
    line.queue_message(record(6, 11, false, std::string("\x01\x00", 2)));
    Worker worker(line);
    ASSERT_TRUE(owner.wait_written(0));
    EXPECT_EQ(owner.notifications(), std::vector<int>{nSecsErrorPortWriteFailed});
    EXPECT_TRUE(log.contains("Message was not sent. Name: 'S6F11'"));
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    EXPECT_TRUE(peer.quiet(100)) << "nothing queued before goes out on the new connection";
    EXPECT_EQ(owner.written(0), 1);
    EXPECT_EQ(owner.written(1), 0);
}

TEST_F(ActiveLine, QueuedMessageWakesTheWorker) {
    Peer peer;
    ASSERT_EQ(open_selected(peer), 0);
    line.idle_sleep = 20000;
    Worker worker(line);
    std::this_thread::sleep_for(50ms);  // the worker is in its long wait now
    line.queue_message(record(6, 11, false));
    // Without the wake-up the message would wait up to 20 s.
    EXPECT_TRUE(peer.read_header(10000));
    worker.stop();
}

}  // namespace
}  // namespace tarvo
