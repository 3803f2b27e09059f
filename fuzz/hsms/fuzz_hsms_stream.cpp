// Feeds arbitrary bytes to a passive HSMS line as one client's byte stream:
// headers, lengths, control messages and bodies all come from the input.
// The first input byte chooses whether the client selects first. Each input
// ends with the client closing its side, after which the line must end the
// connection; whatever it received is taken from the inbox and decoded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "driver/hsms/hsms_header.h"
#include "driver/hsms/secsitcp.h"

namespace {

using namespace tarvo;

class Silent : public LineOwner {
public:
    void OnSecsRead() override {}
    void OnSecsNotify(int) override {}
    void OnSecsWritten(int) override {}
};

struct Harness {
    Harness() {
        line.SetCQuill1(&owner);
        line.msg.set_log_mask(0);
        line.conn_mode = line.conn_mode_new = cmPASSIVE;
        line.T5 = 1000000000;  // never idle-close during the run
        line.T7 = 1000000000;
        line.T8 = 5;           // a stalled message ends quickly
        line.T3 = 1000;
        line.idle_sleep = 5;
        for (int attempt = 0; attempt < 50 && !opened; ++attempt) {
            line.port = 20000 + (std::rand() % 30000);
            opened = line.port_open() == 0;
        }
        if (!opened) std::abort();
        worker = std::thread([this] {
            while (!stop.load()) line.Step();
        });
    }

    int connect_client() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(line.port.load()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    Silent owner;
    secsitcp line;
    bool opened = false;
    std::atomic<bool> stop{false};
    std::thread worker;
};

Harness& harness() {
    static Harness* h = new Harness();  // lives for the whole run
    return *h;
}

void send_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Reads (and drops) what the line answers until it closes the connection.
void wait_closed(int fd) {
    uint8_t buffer[4096];
    for (int waits = 0; waits < 200; ++waits) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Harness& h = harness();
    const int fd = h.connect_client();
    if (fd < 0) return 0;
    if (data[0] & 1) {
        const hsms::Header select = hsms::make_control_header(hsms::stSelectReq, data[0], 0, 1);
        send_all(fd, select.data(), select.size());
    }
    send_all(fd, data + 1, size - 1);
    ::shutdown(fd, SHUT_WR);
    wait_closed(fd);
    ::close(fd);
    while (h.line.msg.NextMessage() == 0) {
    }
    return 0;
}
