// Two pseudo-terminals joined back to back, like a null-modem cable: bytes
// written to one terminal are read from the other. Their terminal sides are
// ports `port_a` and `port_b` through a ports file that TARVO_PORTS points to
// for the life of the object. A relay thread carries the bytes.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace tarvo::secs1_test {

class PtyBridge {
public:
    PtyBridge(int port_a, int port_b);
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    bool ok() const { return ok_; }
    long long relayed() const { return relayed_.load(); }  // bytes carried so far

private:
    void relay();

    int master_[2] = {-1, -1};
    int slave_[2] = {-1, -1};  // held open so that neither side hangs up
    int stop_fd_ = -1;
    bool ok_ = false;
    std::atomic<long long> relayed_{0};
    std::string ports_file_;
    std::thread thread_;
};

}  // namespace tarvo::secs1_test
