// Ports that are TCP streams, on loopback: a listener serving one client at
// a time (accepting, refusing, losing and taking the next), a connection to
// a raw peer, failures with their reasons, a connect given up at once, and
// the allow file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sanitizers.h"
#include "platform/serial/serial_port.h"

namespace tarvo::serial {
namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A socket on 127.0.0.1 (or ::1), bound, listening when asked.
int tcp_socket(bool v6 = false) { return ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int bound_port(int fd) {
    sockaddr_storage a{};
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

int listen_on_loopback(int backlog, int& port) {
    const int fd = tcp_socket();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, backlog);
    port = bound_port(fd);
    return fd;
}

int free_port() {
    int port = 0;
    ::close(listen_on_loopback(1, port));
    return port;
}

// A client from `from` (127.0.0.x) to 127.0.0.1:port; -1 on failure.
int client_to(int port, const char* from = "127.0.0.1") {
    const int fd = tcp_socket();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What `fd` receives within `ms`: the bytes, or "<closed>" at its end.
std::string receive(int fd, int ms = 2000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return "";
    char b[256];
    const ssize_t n = ::recv(fd, b, sizeof b, 0);
    return n <= 0 ? "<closed>" : std::string(b, static_cast<size_t>(n));
}

bool reports_have(int port, const std::string& needle, std::vector<std::string>& seen) {
    for (const std::string& r : sio_take_reports(port)) seen.push_back(r);
    for (const std::string& r : seen) {
        if (r.find(needle) != std::string::npos) return true;
    }
    return false;
}

class TcpPort : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = "/tmp/tarvo-tcp-ports-" + std::to_string(::getpid());
        ::setenv("TARVO_PORTS", file_.c_str(), 1);
        ::setenv("TARVO_ALLOW", (file_ + ".allow").c_str(), 1);
    }
    void TearDown() override {
        for (int p : {9, 10, 11}) sio_close(p);
        ::unsetenv("TARVO_PORTS");
        ::unsetenv("TARVO_ALLOW");
        std::remove(file_.c_str());
        std::remove((file_ + ".allow").c_str());
    }
    void ports(const std::string& text) { std::ofstream(file_) << text; }
    void allow(const std::string& text) { std::ofstream(file_ + ".allow") << text; }
    // Waits on the port (accepting) until `done` holds.
    bool serve_until(int port, const std::function<bool()>& done) {
        for (int i = 0; i < 100; ++i) {
            if (done()) return true;
            sio_wait(port, -1, 20);
        }
        return done();
    }

    std::string file_;
    std::vector<std::string> seen;
};

TEST_F(TcpPort, AListenerServesOneClientAtATime) {
    const int p = free_port();
    ports("9 tcp-listen:127.0.0.1:" + std::to_string(p) + "\n");
    ASSERT_EQ(sio_open(9), 0) << sio_last_error(9);
    EXPECT_EQ(sio_ioctl(9, 13, 3), kIgnored);
    ASSERT_EQ(sio_SetReadTimeouts(9, 50, 0), 0);
    EXPECT_EQ(sio_lstatus(9), kNoPeer) << "listening, no client yet";
    EXPECT_EQ(sio_write(9, "x", 1), kFailed);
    const int first = client_to(p);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(serve_until(9, [&] { return reports_have(9, "accepted a client: '127.0.0.1'", seen); }));
    EXPECT_EQ(sio_lstatus(9), 0);
    ASSERT_EQ(::send(first, "abc", 3, 0), 3);
    char b[8] = {};
    EXPECT_EQ(sio_read(9, b, 3), 3);
    EXPECT_EQ(std::string(b, 3), "abc");
    EXPECT_EQ(sio_write(9, "xyz", 3), 3);
    EXPECT_EQ(receive(first), "xyz");
    // A second client is taken and closed at once.
    const int second = client_to(p);
    ASSERT_TRUE(serve_until(9, [&] { return reports_have(9, "serves one client at a time", seen); }));
    EXPECT_EQ(receive(second), "<closed>");
    ::close(second);
    // The client goes: the port stays open, reads nothing, and takes the next.
    ::close(first);
    EXPECT_EQ(sio_read(9, b, 1), 0);
    EXPECT_TRUE(reports_have(9, "the client closed the connection", seen));
    EXPECT_EQ(sio_lstatus(9), kNoPeer);
    const int third = client_to(p);
    ASSERT_TRUE(serve_until(9, [&] { return sio_lstatus(9) == 0; }));
    ASSERT_EQ(::send(third, "\x05", 1, 0), 1);
    EXPECT_EQ(sio_read(9, b, 1), 1);
    ::close(third);
}

TEST_F(TcpPort, AConnectionToATerminalServer) {
    int p = 0;
    const int server = listen_on_loopback(4, p);
    ports("10 tcp:127.0.0.1:" + std::to_string(p) + "\n");
    ASSERT_EQ(sio_open(10), 0) << sio_last_error(10);
    ASSERT_EQ(sio_SetReadTimeouts(10, 50, 0), 0);
    const int peer = ::accept(server, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(sio_write(10, "\x05", 1), 1);
    EXPECT_EQ(receive(peer), "\x05");
    ::send(peer, "\x04", 1, 0);
    EXPECT_EQ(sio_wait(10, -1, 1000), 1);
    char c = 0;
    EXPECT_EQ(sio_read(10, &c, 1), 1);
    EXPECT_EQ(c, '\x04');
    ::send(peer, "junk", 4, 0);
    EXPECT_EQ(sio_wait(10, -1, 1000), 1);
    EXPECT_EQ(sio_flush(10, 0), 0);
    EXPECT_EQ(sio_read(10, &c, 1), 0) << "input discarded";
    // The server goes away: the port reads as hung up.
    ::close(peer);
    EXPECT_EQ(sio_wait(10, -1, 1000), 1);
    EXPECT_LT(sio_read(10, &c, 1), 0);
    EXPECT_LT(sio_lstatus(10), 0);
    ::close(server);
}

TEST_F(TcpPort, FailuresSayWhy) {
    const int nobody = free_port();
    ports("10 tcp:127.0.0.1:" + std::to_string(nobody) + "\n11 tcp:127.0.0.1\n");
    EXPECT_EQ(sio_open(10), kFailed);
    EXPECT_EQ(sio_last_error(10), "tcp:127.0.0.1:" + std::to_string(nobody) + ": Connection refused");
    EXPECT_EQ(sio_open(11), kFailed);
    EXPECT_NE(sio_last_error(11).find(file_ + ":2: tcp:HOST:PORT: no ':PORT'"), std::string::npos)
        << sio_last_error(11);
    // A port another program listens on cannot be taken.
    int held = 0;
    const int holder = listen_on_loopback(1, held);
    ports("9 tcp-listen:127.0.0.1:" + std::to_string(held) + "\n");
    EXPECT_EQ(sio_open(9), kFailed);
    EXPECT_NE(sio_last_error(9).find("Address already in use"), std::string::npos) << sio_last_error(9);
    ::close(holder);
}

// A listener whose backlog is full never completes a connect: the time limit
// ends it, and a stop ends it within 50 ms.
TEST_F(TcpPort, AConnectGivesUpAtItsLimitOrAtOnceWhenStopped) {
    int p = 0;
    const int full = listen_on_loopback(0, p);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(p));
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    ports("10 tcp:127.0.0.1:" + std::to_string(p) + "\n");
    OpenOptions limited;
    limited.connect_ms = 300;
    auto t0 = Clock::now();
    EXPECT_EQ(sio_open(10, limited), kFailed);
    EXPECT_GE(ms_since(t0), 290);
    EXPECT_EQ(sio_last_error(10), "tcp:127.0.0.1:" + std::to_string(p) + ": no connection within 300 ms");
    std::atomic<bool> stop{false};
    OpenOptions stoppable;
    stoppable.connect_ms = 10000;
    stoppable.abandon = [&] { return stop.load(); };
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    t0 = Clock::now();
    EXPECT_EQ(sio_open(10, stoppable), kFailed);
    const long long took = ms_since(t0) - 200;
    stopper.join();
    std::printf("a connect given up %lld ms after the stop\n", took);
    EXPECT_LT(took, 50 * (kUnderSanitizer ? 4 : 1));
    for (int fd : fillers) ::close(fd);
    ::close(full);
}

TEST_F(TcpPort, TheAllowFileDecidesWhoIsServed) {
    const int p = free_port();
    ports("9 tcp-listen:" + std::to_string(p) + "\n");  // every address
    allow(std::to_string(p) + " 127.0.0.2\n");
    ASSERT_EQ(sio_open(9), 0) << sio_last_error(9);
    const int stranger = client_to(p, "127.0.0.1");
    ASSERT_TRUE(serve_until(9, [&] {
        return reports_have(9, "refused a client: '127.0.0.1' is not allowed on port '" + std::to_string(p) + "'",
                            seen);
    })) << ::testing::PrintToString(seen);
    EXPECT_EQ(receive(stranger), "<closed>");
    ::close(stranger);
    const int friend_ = client_to(p, "127.0.0.2");
    ASSERT_TRUE(serve_until(9, [&] { return sio_lstatus(9) == 0; }));
    ::close(friend_);
}

TEST_F(TcpPort, AnIpv6Client) {
    const int probe = tcp_socket(true);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool have_v6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const int p = have_v6 ? bound_port(probe) : 0;
    if (probe >= 0) ::close(probe);
    if (!have_v6) GTEST_SKIP() << "no ::1 here";
    ports("9 tcp-listen:[::1]:" + std::to_string(p) + "\n");
    ASSERT_EQ(sio_open(9), 0) << sio_last_error(9);
    const int client = tcp_socket(true);
    a.sin6_port = htons(static_cast<uint16_t>(p));
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(serve_until(9, [&] { return reports_have(9, "accepted a client: '::1'", seen); }));
    ::send(client, "\x05", 1, 0);
    char c = 0;
    ASSERT_EQ(sio_SetReadTimeouts(9, 500, 0), 0);
    EXPECT_EQ(sio_read(9, &c, 1), 1);
    ::close(client);
}

}  // namespace
}  // namespace tarvo::serial
