#include "tests/secs1/pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tarvo::secs1_test {

PtyBridge::PtyBridge(int port_a, int port_b) {
    std::string names[2];
    for (int i = 0; i < 2; ++i) {
        char name[128] = {};
        if (::openpty(&master_[i], &slave_[i], name, nullptr, nullptr) != 0) return;
        ::fcntl(master_[i], F_SETFL, O_NONBLOCK);
        ::fcntl(master_[i], F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_[i], F_SETFD, FD_CLOEXEC);
        termios t{};
        ::tcgetattr(slave_[i], &t);
        ::cfmakeraw(&t);  // nothing echoed back before the line configures its side
        ::tcsetattr(slave_[i], TCSANOW, &t);
        names[i] = name;
    }
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) return;
    ports_file_ = "/tmp/tarvo-bridge-ports-" + std::to_string(::getpid()) + "-" + std::to_string(port_a);
    std::ofstream out(ports_file_);
    out << port_a << " " << names[0] << "\n" << port_b << " " << names[1] << "\n";
    out.close();
    ::setenv("TARVO_PORTS", ports_file_.c_str(), 1);
    thread_ = std::thread([this] { relay(); });
    ok_ = true;
}

PtyBridge::~PtyBridge() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t r = ::write(stop_fd_, &one, sizeof one);
        thread_.join();
    }
    for (int fd : {master_[0], master_[1], slave_[0], slave_[1], stop_fd_}) {
        if (fd >= 0) ::close(fd);
    }
    if (!ports_file_.empty()) std::remove(ports_file_.c_str());
}

void PtyBridge::relay() {
    char buffer[4096];
    for (;;) {
        pollfd pf[3] = {{master_[0], POLLIN, 0}, {master_[1], POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(pf, 3, -1) < 0) continue;
        if (pf[2].revents != 0) return;
        for (int i = 0; i < 2; ++i) {
            if ((pf[i].revents & POLLIN) == 0) continue;
            const ssize_t n = ::read(master_[i], buffer, sizeof buffer);
            if (n <= 0) continue;
            ssize_t sent = 0;
            while (sent < n) {
                const ssize_t w = ::write(master_[1 - i], buffer + sent, static_cast<size_t>(n - sent));
                if (w > 0) {
                    sent += w;
                    continue;
                }
                pollfd out[2] = {{master_[1 - i], POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
                ::poll(out, 2, 100);
                if (out[1].revents != 0) return;
            }
            relayed_ += n;
        }
    }
}

}  // namespace tarvo::secs1_test
