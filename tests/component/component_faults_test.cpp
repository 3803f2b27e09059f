// The driver object under faults: every send ends in one OnSecsWritten even
// when the last reference goes, and a call that runs out of memory answers
// E_OUTOFMEMORY instead of ending the host process.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "platform/sanitizers.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

TEST(DriverFaults, TheLastReleaseEndsEveryQueuedSendWithItsOwnOutcome) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    constexpr int kSends = 3000;
    ComPtr<RecordingSink> sink = pair.host.sink;  // stays advised while the driver goes
    BstrHolder s1f1("S1F1 W");
    for (int i = 0; i < kSends; ++i) ASSERT_EQ(pair.host.driver->SendMessage(s1f1.get()), S_OK);
    pair.host.driver.reset();  // the last reference: most sends are still queued
    const size_t ended = sink->count(DISPID_OnSecsWritten, 1) + sink->count(DISPID_OnSecsWritten, 0);
    EXPECT_EQ(ended, static_cast<size_t>(kSends));
    EXPECT_GT(sink->count(DISPID_OnSecsWritten, 0), 0u) << "nothing was left to end: the test proves nothing";
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink->count(DISPID_OnSecsWritten, 1) + sink->count(DISPID_OnSecsWritten, 0), ended)
        << "no event after the release returned";
    pair.host.cookie = 0;
}

// Lowers the address-space limit to what the process maps now plus
// `headroom`, for the life of the object.
class AddressLimit {
public:
    explicit AddressLimit(size_t headroom) {
        ::getrlimit(RLIMIT_AS, &saved_);
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages;
        rlimit lower = saved_;
        lower.rlim_cur = pages * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) + headroom;
        ok_ = ::setrlimit(RLIMIT_AS, &lower) == 0;
    }
    ~AddressLimit() { ::setrlimit(RLIMIT_AS, &saved_); }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

TEST(DriverFaults, OutOfMemoryIsAnErrorOfTheCallNotTheEndOfTheHost) {
    if (kUnderSanitizer) GTEST_SKIP() << "the sanitizers' shadow memory needs the address space";
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* host = pair.host.driver.get();
    ITarvo* equipment = pair.equipment.driver.get();
    host->SetLogAdjust(0);  // no records of the whole 16 MB text
    equipment->SetLogAdjust(0);

    // Eight million Boolean values: their element array fits in 512 MiB.
    constexpr size_t kValues = 8u << 20;
    std::string text = "S6F11 <Bool";
    text.reserve(text.size() + kValues * 2 + 2);
    for (size_t i = 0; i < kValues; ++i) text += i % 2 ? " 0" : " 1";
    text += '>';
    {
        BstrHolder event(text);
        ASSERT_EQ(host->SendMessage(event.get()), S_OK);
    }
    ASSERT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsRead, 0, 1, 10s));

    // A call that needs more than there is: E_OUTOFMEMORY, a record and 50.
    const std::string item = "<A '" + std::string(15u << 20, 'x') + "'>";
    std::string huge = "S1F1 <L";
    for (int i = 0; i < 20; ++i) huge += item;  // 300 MiB of ASCII items, each within the item bound
    huge += '>';
    BstrHolder too_much(huge);
    huge = std::string();
    {
        AddressLimit limit(512u << 20);
        ASSERT_TRUE(limit.ok());
        EXPECT_EQ(equipment->NextMessage(), S_OK);
        INT count = 0;
        EXPECT_EQ(equipment->GetElemGnrlQuan(&count), S_OK);
        EXPECT_EQ(count, static_cast<INT>(kValues + 1));
        EXPECT_EQ(host->SendMessage(too_much.get()), E_OUTOFMEMORY);
    }
    EXPECT_EQ(pair.host.sink->count(DISPID_OnSecsNotify, nSecsErrorInternal), 1u);
    // The object goes on working.
    BstrHolder s1f1("S1F1 W");
    EXPECT_EQ(host->SendMessage(s1f1.get()), S_OK);
    EXPECT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsWritten, 1, 2, 3s));
}

TEST(DriverFaults, AWorkerThatCannotStartIsAnErrorOfTheCall) {
    if (kUnderSanitizer) GTEST_SKIP() << "the sanitizers' shadow memory needs the address space";
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_TRUE(driver);
    ComPtr<RecordingSink> sink = RecordingSink::create("driver");
    const DWORD cookie = sink->advise_on(driver.get());
    {
        // Room for the line object, none for a worker's stack.
        AddressLimit limit(256u << 10);
        ASSERT_TRUE(limit.ok());
        EXPECT_EQ(driver->SetLineType(ltHSMS), E_OUTOFMEMORY);
    }
    EXPECT_EQ(sink->count(DISPID_OnSecsNotify, nSecsErrorInternal), 1u);
    enum_SECS_LINE_TYPE type{};
    driver->GetLineType(&type);
    EXPECT_EQ(type, ltNone);
    // A later call may try again.
    EXPECT_EQ(driver->SetLineType(ltHSMS), S_OK);
    driver->GetLineType(&type);
    EXPECT_EQ(type, ltHSMS);
    INT port = 0;
    EXPECT_EQ(driver->GetPort(&port), S_OK);
    EXPECT_EQ(port, 5000);
    sink->unadvise_from(driver.get(), cookie);
}

}  // namespace
}  // namespace tarvo::test
