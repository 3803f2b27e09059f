#include "platform/com/connection_point.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/com/recording_sink.h"

namespace {

constexpr IID kEvents = {0xAAAA0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// A container that owns one connection point and counts its references.
class Container final : public IConnectionPointContainer {
public:
    Container() : point(kEvents, this) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IConnectionPointContainer) {
            *object = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** p) override {
        *p = nullptr;
        if (iid != kEvents) return CONNECT_E_NOCONNECTION;
        point.AddRef();
        *p = &point;
        return S_OK;
    }

    std::atomic<ULONG> refs{0};
    ConnectionPoint point;
};

VARIANT i4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

}  // namespace

TEST(ConnectionPoint, CookiesNamePositionsAndFreedPositionsAreReused) {
    Container c;
    RecordingSink a(kEvents), b(kEvents), d(kEvents);
    DWORD ca = 0, cb = 0, cd = 0;
    ASSERT_EQ(c.point.Advise(&a, &ca), S_OK);
    ASSERT_EQ(c.point.Advise(&b, &cb), S_OK);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(a.refs, 1u);  // the point holds one reference per sink
    ASSERT_EQ(c.point.Unadvise(ca), S_OK);
    EXPECT_EQ(a.refs, 0u);
    EXPECT_EQ(c.point.Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(c.point.Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(c.point.Unadvise(77), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(c.point.Advise(&d, &cd), S_OK);
    EXPECT_EQ(cd, 1u);  // first free position
    EXPECT_EQ(c.point.SinkCount(), 2u);
    c.point.UnadviseAll();
    EXPECT_EQ(b.refs + d.refs, 0u);
}

TEST(ConnectionPoint, RefusesSinksWithoutTheEventInterface) {
    Container c;
    RecordingSink plain;  // answers IDispatch only
    DWORD cookie = 5;
    EXPECT_EQ(c.point.Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(plain.refs, 0u);
    EXPECT_EQ(c.point.Advise(nullptr, &cookie), E_POINTER);
}

TEST(ConnectionPoint, ReferencesGoToTheContainer) {
    Container c;
    IConnectionPoint* p = nullptr;
    ASSERT_EQ(c.FindConnectionPoint(kEvents, &p), S_OK);
    EXPECT_EQ(c.refs, 1u);
    IConnectionPointContainer* back = nullptr;
    ASSERT_EQ(p->GetConnectionPointContainer(&back), S_OK);
    EXPECT_EQ(back, &c);
    back->Release();
    IID iid{};
    ASSERT_EQ(p->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, kEvents);
    p->Release();
    EXPECT_EQ(c.refs, 0u);
    EXPECT_EQ(c.FindConnectionPoint(IID_IDispatch, &p), CONNECT_E_NOCONNECTION);
}

TEST(ConnectionPoint, FireReachesEverySinkInOrderDespiteFailures) {
    Container c;
    RecordingSink first(kEvents), failing(kEvents), last(kEvents);
    failing.fail = true;
    std::vector<int> order;
    first.on_invoke = [&] { order.push_back(1); };
    failing.on_invoke = [&] { order.push_back(2); };
    last.on_invoke = [&] { order.push_back(3); };
    DWORD cookie;
    c.point.Advise(&first, &cookie);
    c.point.Advise(&failing, &cookie);
    c.point.Advise(&last, &cookie);
    VARIANT arg = i4(24);
    EXPECT_EQ(c.point.Fire(2, &arg, 1), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(last.calls().size(), 1u);
    EXPECT_EQ(last.calls()[0].id, 2);
    EXPECT_EQ(last.calls()[0].args, std::vector<LONG>{24});  // not what the rude first sink left
    EXPECT_EQ(arg.lVal, 24);
    EXPECT_EQ(c.point.Fire(1, nullptr, 0), 3u);
    EXPECT_TRUE(first.calls()[1].args.empty());
    c.point.UnadviseAll();
    EXPECT_EQ(c.point.Fire(1, nullptr, 0), 0u);
}

TEST(ConnectionPoint, SinkMayUnadviseItselfFromInsideAnEvent) {
    Container c;
    RecordingSink self(kEvents), other(kEvents);
    DWORD self_cookie = 0, other_cookie = 0;
    c.point.Advise(&self, &self_cookie);
    c.point.Advise(&other, &other_cookie);
    self.on_invoke = [&] { EXPECT_EQ(c.point.Unadvise(self_cookie), S_OK); };  // would deadlock under the lock
    c.point.Fire(1, nullptr, 0);
    self.on_invoke = nullptr;
    c.point.Fire(1, nullptr, 0);
    EXPECT_EQ(self.calls().size(), 1u);
    EXPECT_EQ(other.calls().size(), 2u);
    EXPECT_EQ(self.refs, 0u);
    c.point.UnadviseAll();
}

TEST(ConnectionPoint, FiringWhileOthersAdviseAndUnadvise) {
    Container c;
    RecordingSink steady(kEvents);
    DWORD steady_cookie = 0;
    c.point.Advise(&steady, &steady_cookie);
    std::vector<std::thread> firers;
    for (int t = 0; t < 2; ++t)
        firers.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                VARIANT v = i4(i);
                c.point.Fire(3, &v, 1);
            }
        });
    std::thread churn([&] {
        RecordingSink transient(kEvents);
        for (int i = 0; i < 300; ++i) {
            DWORD cookie = 0;
            EXPECT_EQ(c.point.Advise(&transient, &cookie), S_OK);
            EXPECT_EQ(c.point.Unadvise(cookie), S_OK);
        }
        // Firing threads may still hold a reference taken before the last
        // Unadvise; wait until they are done with this sink.
        while (transient.refs.load() != 0) std::this_thread::yield();
    });
    for (auto& t : firers) t.join();
    churn.join();
    EXPECT_EQ(steady.calls().size(), 600u);
    c.point.UnadviseAll();
    EXPECT_EQ(steady.refs, 0u);
}
