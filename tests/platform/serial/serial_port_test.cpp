// Serial ports by number on pseudo-terminal pairs: the ports file, exclusive
// opening, character formats, read timeouts, flushing and line status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/serial/bit_rate.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"

namespace tarvo::serial {
namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A pseudo-terminal pair whose terminal side is port 7 (and 12) through a ports file.
class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&master_, &slave_, name_, nullptr, nullptr), 0);
        ::close(slave_);  // the port opens the device by its name
        slave_ = -1;
        file_ = "/tmp/tarvo-ports-" + std::to_string(::getpid());
        std::ofstream out(file_);
        out << "# test ports\n7 " << name_ << "  # the pty\n\n12 /nonexistent/device\n";
        out.close();
        ::setenv("TARVO_PORTS", file_.c_str(), 1);
    }
    void TearDown() override {
        sio_close(7);
        ::unsetenv("TARVO_PORTS");
        std::remove(file_.c_str());
        if (master_ >= 0) ::close(master_);
    }
    // What the peer on the other end has received so far.
    std::string peer_reads() {
        std::string got;
        char b[256];
        for (;;) {
            ::fcntl(master_, F_SETFL, O_NONBLOCK);
            const ssize_t n = ::read(master_, b, sizeof b);
            if (n <= 0) break;
            got.append(b, static_cast<size_t>(n));
        }
        return got;
    }
    void peer_writes(const std::string& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

    int master_ = -1;
    int slave_ = -1;
    char name_[128] = {};
    std::string file_;
};

TEST(PortMap, DefaultDevicesAndWhereTheFileIs) {
    ::unsetenv("TARVO_PORTS");
    const char* home = std::getenv("HOME");
    ::setenv("XDG_CONFIG_HOME", "/nonexistent-config", 1);
    EXPECT_EQ(ports_file_path(), "/nonexistent-config/tarvo/ports");
    EXPECT_EQ(device_for_port(1), "/dev/ttyS0");  // no file: the default
    EXPECT_EQ(device_for_port(4), "/dev/ttyS3");
    EXPECT_EQ(device_for_port(0), "");
    ::unsetenv("XDG_CONFIG_HOME");
    if (home) {
        EXPECT_EQ(ports_file_path(), std::string(home) + "/.config/tarvo/ports");
    }
    ::setenv("TARVO_PORTS", "/tmp/elsewhere", 1);
    EXPECT_EQ(ports_file_path(), "/tmp/elsewhere");
    ::unsetenv("TARVO_PORTS");
}

// Entries of the ports file: devices as always, TCP endpoints, and malformed
// entries that fail the port with the reason instead of meaning something else.
TEST(PortMap, EntriesAndTheirErrors) {
    using K = PortEndpoint::Kind;
    const struct {
        const char* line;
        K kind;
        const char* path_or_host;
        int tcp_port;
        const char* error;  // part of the error
    } rows[] = {
        {"3 /dev/ttyUSB0", K::tty, "/dev/ttyUSB0", 0, ""},
        {"3 /dev/ttyUSB0 extra words", K::tty, "/dev/ttyUSB0", 0, ""},
        {"3 tcp:ts1.fab:4001", K::tcp_connect, "ts1.fab", 4001, ""},
        {"3 tcp:10.0.0.7:4001", K::tcp_connect, "10.0.0.7", 4001, ""},
        {"3 tcp:[::1]:7000", K::tcp_connect, "::1", 7000, ""},
        {"3 tcp-listen:7000", K::tcp_listen, "", 7000, ""},
        {"3 tcp-listen:127.0.0.1:7000", K::tcp_listen, "127.0.0.1", 7000, ""},
        {"3 tcp-listen:[::1]:7000", K::tcp_listen, "::1", 7000, ""},
        {"3", K::invalid, "", 0, "ports:1: no device or endpoint"},
        {"3 tcp:host", K::invalid, "", 0, "no ':PORT'"},
        {"3 tcp:host:0", K::invalid, "", 0, "'0' is no TCP port"},
        {"3 tcp:host:70000", K::invalid, "", 0, "no TCP port"},
        {"3 tcp::1:7000", K::invalid, "", 0, "bracketed"},
        {"3 tcp:[::1:7000", K::invalid, "", 0, "[ADDRESS]:PORT"},
        {"3 tcp:[nohost]:7000", K::invalid, "", 0, "no IPv6 address"},
        {"3 tcp-listen:name.fab:7000", K::invalid, "", 0, "no numeric address"},
        {"3 tcp-listen:", K::invalid, "", 0, "tcp-listen"},
        {"3 tcp:h:1 more", K::invalid, "", 0, "unexpected 'more'"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        const PortEndpoint e = parse_port_entry(r.line, "ports", 3);
        EXPECT_EQ(e.kind, r.kind);
        if (r.kind == K::tty) {
            EXPECT_EQ(e.path, r.path_or_host);
        }
        if (r.kind == K::tcp_connect || r.kind == K::tcp_listen) {
            EXPECT_EQ(e.host, r.path_or_host);
            EXPECT_EQ(e.tcp_port, r.tcp_port);
        }
        EXPECT_NE(e.error.find(r.error), std::string::npos) << e.error;
    }
    // The first entry for a number counts; an unreadable number is noted and
    // skipped; a port the file does not name is its tty.
    const PortEndpoint e = parse_port_entry("x /dev/a\n3 tcp:h:5\n3 /dev/b\n", "ports", 3);
    EXPECT_EQ(e.kind, K::tcp_connect);
    ASSERT_EQ(e.notes.size(), 1u);
    EXPECT_EQ(e.notes[0], "ports:1: 'x' is no port number: line skipped");
    EXPECT_EQ(parse_port_entry("3 tcp:h:5\n", "ports", 4).path, "/dev/ttyS3");
    EXPECT_EQ(parse_port_entry("", "ports", 0).kind, K::invalid);
}

TEST_F(PtyPort, TheFileMapsNumbersToDevices) {
    EXPECT_EQ(device_for_port(7), name_);
    EXPECT_EQ(device_for_port(12), "/nonexistent/device");
    EXPECT_EQ(device_for_port(2), "/dev/ttyS1");  // not in the file
    EXPECT_LT(sio_open(12), 0);
}

TEST_F(PtyPort, OpenedExclusively) {
    ASSERT_EQ(sio_open(7), 0);
    EXPECT_LT(sio_open(7), 0) << "a second opener gets a failure, not a shared port";
    // Another opener of the device (root passes TIOCEXCL) cannot take the lock.
    const int other = ::open(name_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    EXPECT_EQ(sio_close(7), 0);
    EXPECT_EQ(sio_close(7), kNotOpen);
    EXPECT_EQ(sio_open(7), 0) << "closed ports open again";
    // Operations on a port that is not open fail plainly.
    char c;
    for (int r : {sio_read(8, &c, 1), sio_write(8, "x", 1), sio_lstatus(8), sio_flush(8, 0), sio_ioctl(8, 13, 3),
                  sio_SetReadTimeouts(8, 100, 0)}) {
        EXPECT_EQ(r, kNotOpen);
    }
}

TEST_F(PtyPort, BaudCodesAndLineModes) {
    ASSERT_EQ(sio_open(7), 0);
    const struct {
        int code, mode, result, rate;
    } rows[] = {{13, 3, 0, 19200},  {12, 3, 0, 9600},           {16, 0x1B, 0, 115200},    {0, 0x04, 0, 50},
                {19, 0x0B, 0, 921600}, {11, 3, 0, 7200},        {20, 3, kBadParameter, 0}, {13, 0x40, kBadParameter, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(sio_ioctl(7, r.code, r.mode), r.result) << r.code << "/" << r.mode;
        if (r.result != 0) continue;
        // A pty pair shares its settings; 7200 has no Bxxx constant and is
        // read back through termios2.
        EXPECT_EQ(read_bit_rate(master_), r.rate) << r.code;
    }
    const struct {
        int mode;
        bool two_stop, odd;
    } modes[] = {{3, false, false}, {0x1B, false, false}, {0x0B, false, true}, {0x06, true, false}, {0x0C, true, true}};
    for (const auto& m : modes) {
        ASSERT_EQ(sio_ioctl(7, 13, m.mode), 0) << m.mode;
        termios t{};
        ASSERT_EQ(::tcgetattr(master_, &t), 0);
        // A pseudo-terminal keeps 8 bits without parity whatever is asked;
        // the stop bits and the parity sense it stores.
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, m.two_stop) << m.mode;
        EXPECT_EQ((t.c_cflag & PARODD) != 0, m.odd) << m.mode;
        EXPECT_NE(t.c_cflag & CLOCAL, 0u) << "modem lines ignored";
        EXPECT_EQ(t.c_cflag & HUPCL, 0u) << "no hang-up on close";
    }
    EXPECT_EQ(baud_rate_of(13), 19200);
    EXPECT_EQ(baud_rate_of(11), 7200);
    EXPECT_EQ(baud_rate_of(20), 0);
}

TEST_F(PtyPort, ReadsWaitAtMostTheReadTimeoutAndKeepWhatArrives) {
    ASSERT_EQ(sio_open(7), 0);
    ASSERT_EQ(sio_SetReadTimeouts(7, 100, 0), 0);
    char buffer[16];
    auto start = Clock::now();
    EXPECT_EQ(sio_read(7, buffer, 1), 0);
    const long long waited = ms_since(start);
    EXPECT_GE(waited, 95);
    EXPECT_LT(waited, 1000);
    peer_writes("\x05");
    EXPECT_EQ(sio_read(7, buffer, 1), 1);
    EXPECT_EQ(buffer[0], '\x05');
    // Without an interval timeout a read returns what is there.
    peer_writes("abc");
    EXPECT_EQ(sio_read(7, buffer, 10), 3);
    // With one, it waits between bytes for the rest.
    ASSERT_EQ(sio_SetReadTimeouts(7, 100, 300), 0);
    peer_writes("ab");
    EXPECT_EQ(sio_read(7, buffer, 2), 2);
    EXPECT_EQ(sio_write(7, "\x04xyz", 4), 4);
    EXPECT_EQ(peer_reads(), "\x04xyz");
}

TEST_F(PtyPort, FlushingOutputNeverDropsWhatThePeerSent) {
    ASSERT_EQ(sio_open(7), 0);
    ASSERT_EQ(sio_SetReadTimeouts(7, 100, 0), 0);
    peer_writes("\x05");            // the peer's ENQ has arrived...
    ASSERT_EQ(sio_write(7, "\x06", 1), 1);  // ...and our ACK is on its way...
    EXPECT_EQ(sio_flush(7, 1), 0);  // ...before the next control character goes out
    char c = 0;
    EXPECT_EQ(sio_read(7, &c, 1), 1);
    EXPECT_EQ(c, '\x05');
    EXPECT_EQ(peer_reads(), "\x06");
    peer_writes("junk");
    EXPECT_EQ(sio_flush(7, 0), 0);  // input discarded before a block
    EXPECT_EQ(sio_read(7, &c, 1), 0);
    EXPECT_EQ(sio_flush(7, 3), kBadParameter);
}

TEST_F(PtyPort, LineStatusDoesNotDependOnModemLines) {
    ASSERT_EQ(sio_open(7), 0);
    EXPECT_GE(sio_lstatus(7), 0) << "a pseudo-terminal has no modem lines and is usable";
    ::close(master_);  // the other end goes away
    master_ = -1;
    EXPECT_LT(sio_lstatus(7), 0);
    char c;
    EXPECT_LT(sio_read(7, &c, 1), 0);
}

}  // namespace
}  // namespace tarvo::serial
