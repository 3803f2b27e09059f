// The sink array shared by the connection points: references, closing, and
// sinks whose Release calls back into the array.
#include "platform/com/sink_array.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/platform/com/recording_sink.h"

namespace {

// A sink that runs `on_release` whenever a reference goes.
class ReleaseHookSink final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG left = --refs;
        if (on_release) on_release();
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

    ULONG refs = 0;
    std::function<void()> on_release;
};

}  // namespace

TEST(SinkArray, SnapshotsHoldTheirOwnReferencesAndCloseRefusesLaterSinks) {
    RecordingSink a, b;
    SinkArray sinks;
    a.AddRef();
    b.AddRef();
    const DWORD ca = sinks.Add(&a);
    EXPECT_EQ(sinks.Add(&b), 2u);
    std::vector<IDispatch*> taken = sinks.Snapshot();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0], &a);
    EXPECT_TRUE(sinks.Remove(ca));
    EXPECT_EQ(a.refs, 1u);  // still held by the snapshot
    for (IDispatch* s : taken) s->Release();
    EXPECT_EQ(a.refs, 0u);

    sinks.Close();
    EXPECT_EQ(b.refs, 0u);
    a.AddRef();
    EXPECT_EQ(sinks.Add(&a), 0u);
    EXPECT_EQ(a.refs, 0u);  // refused and released
    EXPECT_EQ(sinks.Count(), 0u);
    EXPECT_FALSE(sinks.Remove(1));
    EXPECT_EQ(sinks.Add(nullptr), 0u);
}

TEST(SinkArray, ASinksReleaseMayCallBackIntoTheArray) {
    ReleaseHookSink x, y;
    std::size_t seen = 99;
    {
        SinkArray sinks;
        x.on_release = [&] { seen = sinks.Count(); };
        y.on_release = [&] { sinks.Snapshot(); };
        x.AddRef();
        y.AddRef();
        const DWORD cx = sinks.Add(&x);
        sinks.Add(&y);
        EXPECT_TRUE(sinks.Remove(cx));  // would deadlock if released under the lock
        EXPECT_EQ(seen, 1u);
        sinks.Clear();
        EXPECT_EQ(y.refs, 0u);
        y.on_release = nullptr;
        x.on_release = nullptr;
        x.AddRef();
        x.AddRef();
        EXPECT_EQ(sinks.Add(&x), 1u);
        EXPECT_EQ(sinks.Add(&x), 2u);  // the same sink twice takes two positions
    }
    EXPECT_EQ(x.refs, 0u);  // the array's destruction released both
}
