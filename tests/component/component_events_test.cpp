// _ITarvoEvents: every advised sink in the order of its position, Unadvise,
// a failing sink, and sinks that call straight back into the driver. The
// notification 50 of an unknown line type is raised synchronously on the
// caller's thread, which makes it a handy event to test with.
#include <mutex>

#include <gtest/gtest.h>

#include "driver/component/tarvo_guids.h"
#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "tests/component/driver_env.h"

namespace tarvo::test {
namespace {

TEST(Events, ReachEverySinkInPositionOrderUntilUnadvised) {
    ComPtr<ITarvo> driver = create_driver();
    std::vector<std::string> log;
    std::mutex mutex;
    auto a = RecordingSink::create("a");
    auto b = RecordingSink::create("b");
    a->set_shared_log(&log, &mutex);
    b->set_shared_log(&log, &mutex);
    const DWORD ca = a->advise_on(driver.get());
    const DWORD cb = b->advise_on(driver.get());
    ASSERT_NE(ca, 0u);
    ASSERT_NE(cb, 0u);
    EXPECT_NE(ca, cb);

    ASSERT_EQ(driver->SetLineType(static_cast<enum_SECS_LINE_TYPE>(5)), S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"a:2:50", "b:2:50"}));

    a->unadvise_from(driver.get(), ca);
    log.clear();
    ASSERT_EQ(driver->SetLineType(static_cast<enum_SECS_LINE_TYPE>(6)), S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"b:2:50"}));

    // The freed first position is taken again, so the new sink comes first.
    auto c = RecordingSink::create("c");
    c->set_shared_log(&log, &mutex);
    EXPECT_EQ(c->advise_on(driver.get()), ca);
    log.clear();
    ASSERT_EQ(driver->SetLineType(static_cast<enum_SECS_LINE_TYPE>(7)), S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"c:2:50", "b:2:50"}));
}

TEST(Events, AFailingSinkDoesNotStopTheOthers) {
    ComPtr<ITarvo> driver = create_driver();
    auto bad = RecordingSink::create("bad", /*fail=*/true);
    auto good = RecordingSink::create("good");
    ASSERT_NE(bad->advise_on(driver.get()), 0u);
    ASSERT_NE(good->advise_on(driver.get()), 0u);
    ASSERT_EQ(driver->SetLineType(static_cast<enum_SECS_LINE_TYPE>(5)), S_OK);
    ASSERT_EQ(driver->SetLineType(static_cast<enum_SECS_LINE_TYPE>(5)), S_OK);
    EXPECT_EQ(bad->count(DISPID_OnSecsNotify, nSecsErrorInternal), 2u);
    EXPECT_EQ(good->count(DISPID_OnSecsNotify, nSecsErrorInternal), 2u);
}

TEST(Events, ASinkThatIsNoDispatchIsRefused) {
    ComPtr<ITarvo> driver = create_driver();
    ComPtr<IConnectionPointContainer> cpc;
    ASSERT_EQ(driver->QueryInterface(IID_IConnectionPointContainer, cpc.out_void()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(cpc->FindConnectionPoint(DIID__ITarvoEvents, point.out()), S_OK);
    DWORD cookie = 7;
    // The connection point answers neither _ITarvoEvents nor IDispatch.
    EXPECT_EQ(point->Advise(point.get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
}

TEST(Events, ASinkMayCallBackIntoTheDriverFromInsideAnEvent) {
    ComPtr<ITarvo> driver = create_driver();
    ITarvo* d = driver.get();
    ASSERT_EQ(d->SetLineType(ltHSMS), S_OK);
    auto sink = RecordingSink::create();
    int seen_type = 0;
    sink->set_hook([&](const RecordingSink::Event&) {
        enum_SECS_LINE_TYPE t{};
        d->GetLineType(&t);
        seen_type = t;
        d->SetT5(777);
        BSTR sml = nullptr;
        d->NextMessageSML(&sml);  // touches the line under the driver's call lock
        SysFreeString(sml);
    });
    ASSERT_NE(sink->advise_on(d), 0u);
    ASSERT_EQ(d->SetLineType(static_cast<enum_SECS_LINE_TYPE>(9)), S_OK);
    EXPECT_EQ(seen_type, 9);
    INT t5 = 0;
    ASSERT_EQ(d->GetT5(&t5), S_OK);
    EXPECT_EQ(t5, 777);
}

TEST(Events, ASinkMayUnadviseItselfAndReplaceTheLineFromInsideAnEvent) {
    ComPtr<ITarvo> driver = create_driver();
    ITarvo* d = driver.get();
    auto sink = RecordingSink::create();
    DWORD cookie = 0;
    sink->set_hook([&](const RecordingSink::Event& e) {
        if (e.arg != nSecsErrorInternal) return;
        sink->unadvise_from(d, cookie);
        d->SetLineType(ltHSMS);
    });
    cookie = sink->advise_on(d);
    ASSERT_NE(cookie, 0u);
    ASSERT_EQ(d->SetLineType(static_cast<enum_SECS_LINE_TYPE>(5)), S_OK);
    ASSERT_EQ(d->SetLineType(static_cast<enum_SECS_LINE_TYPE>(5)), S_OK);
    EXPECT_EQ(sink->count(DISPID_OnSecsNotify, nSecsErrorInternal), 1u);
    INT t5 = 0;
    ASSERT_EQ(d->GetT5(&t5), S_OK);
    EXPECT_EQ(t5, 10000);  // the line made inside the event is there
}

}  // namespace
}  // namespace tarvo::test
