// A SECS-I line with a scripted peer on the other end of its port (a pty
// pair, or a port in memory where the terminal does not matter), short
// timeouts, every record kind logged, and a worker that runs it.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "driver/secs1/secsicomm.h"
#include "tests/secs1/secs1_peer.h"

namespace tarvo::secs1_test {

// Every timer its own value, so a timer that runs on another's shows.
constexpr int kT1 = 60, kT2 = 150, kT3 = 400, kT4 = 250;

template <class Peer>
class LineTestOn : public ::testing::Test {
protected:
    LineTestOn() {
        line.SetCQuill1(&owner);
        line.msg.set_log_mask(0x1FFF);
        line.read_timeout = 10;
        line.T1 = kT1;
        line.T2 = kT2;
        line.T3 = kT3;
        line.T4 = kT4;
        line.retry = 2;
        line.idle_sleep = 10;
        line.reopen_delay = 100;
        line.port = peer.port();
    }
    ~LineTestOn() override { stop(); }

    // Opens the port and starts the worker.
    void start() {
        ASSERT_EQ(line.port_open(), 0);
        worker.emplace(line);
    }
    // Stops the worker and closes the port.
    void stop() {
        worker.reset();
        line.active_wanted = false;
        line.port_disconnect();
    }

    Peer peer;
    LogCapture log;
    RecordingOwner owner;
    secsicomm line;
    std::optional<Worker> worker;
};

using SerialLineTest = LineTestOn<PtyPeer>;
using MemoryLineTest = LineTestOn<MemoryPeer>;

}  // namespace tarvo::secs1_test
