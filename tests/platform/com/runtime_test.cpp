// Creating objects from a real component library: registration, creation by
// class id and program id, type libraries, events, and unloading.
#include "platform/com/runtime.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>

#include <thread>

#include "platform/com/com.h"
#include "platform/com/server_exports.h"
#include "tests/platform/com/recording_sink.h"
#include "tests/platform/com/temp_registry.h"
#include "tests/platform/com/test_component_ids.h"

namespace {

// Registers the test component through its own DllRegisterServer, as the
// registration tool does, with the runtime initialised.
struct RuntimeTest : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        void* handle = dlopen(TARVO_TEST_COMPONENT, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr);
        auto reg = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, "DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
        dlclose(handle);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(CoLoadedLibraryCount(), 0);  // the last uninitialise unloads what allows it
    }

    static ComPtr<ICalc> Create() {
        ComPtr<ICalc> calc;
        EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, IID_ICalc, calc.out_void()), S_OK);
        return calc;
    }

    TempRegistry reg;
    ComPtr<ITypeLib> lib;
};

}  // namespace

TEST_F(RuntimeTest, RegistrationWritesTheClassEntries) {
    std::string v;
    ASSERT_EQ(RegStoreGetValue("HKCR\\Tarvo.TestCalc\\CLSID", "", &v), S_OK);
    EXPECT_EQ(v, GuidToString(CLSID_TestCalc));
    ASSERT_EQ(RegStoreGetValue("HKCR\\CLSID\\" + v + "\\InprocServer32", "", &v), S_OK);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(TARVO_TEST_COMPONENT, resolved), nullptr);
    EXPECT_EQ(v, resolved);  // the library's own full path, from dladdr
}

TEST_F(RuntimeTest, CreatesByClassIdAndCallsBothWays) {
    ComPtr<ICalc> calc = Create();
    ASSERT_TRUE(calc);
    LONG sum = 0;
    ASSERT_EQ(calc->Add(2, 40, &sum), S_OK);  // through the interface's own table
    EXPECT_EQ(sum, 42);

    // Late-bound: names through GetIDsOfNames, arguments in reverse order,
    // out-parameters as BYREF variants.
    LPOLESTR name = const_cast<LPOLESTR>(u"echo");
    DISPID id = 0;
    ASSERT_EQ(calc->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 2);
    BSTR copy = nullptr;
    LONG length = 0;
    VARIANT args[3];
    for (VARIANT& a : args) VariantInit(&a);
    args[2].vt = VT_BSTR;
    args[2].bstrVal = BstrFromBytes(std::string("\xFF\0z", 3));
    args[1].vt = VT_BYREF | VT_BSTR;
    args[1].pbstrVal = &copy;
    args[0].vt = VT_BYREF | VT_I4;
    args[0].plVal = &length;
    DISPPARAMS params{args, nullptr, 3, 0};
    ASSERT_EQ(calc->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(BytesFromBstr(copy), std::string("\xFF\0z", 3));
    EXPECT_EQ(length, 3);
    SysFreeString(copy);
    VariantClear(&args[2]);

    params.cArgs = 2;
    EXPECT_EQ(calc->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
}

TEST_F(RuntimeTest, CreatesByProgramId) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Tarvo.TestCalc", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestCalc);
    ASSERT_EQ(CLSIDFromProgID(u"tarvo.testcalc", &clsid), S_OK);  // registry keys ignore case
    EXPECT_EQ(CLSIDFromProgID(u"Tarvo.Missing", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(CLSIDFromProgID(u"{3F7C2A10-6B1E-4C8D-9A55-1E2D3C4B5A61}", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestCalc);
}

TEST_F(RuntimeTest, FailuresHaveTheirOwnCodes) {
    void* p = reinterpret_cast<void*>(1);
    constexpr CLSID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IClassFactory, &p), E_NOINTERFACE);
    RecordingSink outer;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, &outer, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);

    // A registered path that does not load.
    std::string key = "HKCR\\CLSID\\" + GuidToString(unknown) + "\\InprocServer32";
    ASSERT_EQ(RegStoreSetDefault(key, reg.dir() + "/missing.so"), S_OK);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
    EXPECT_NE(CoLastLoadError().find("missing.so"), std::string::npos);
    // A library that holds no class objects.
    ASSERT_EQ(RegStoreSetDefault(key, "libm.so.6"), S_OK);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_ERRORINDLL);
    // The library answers for its own class only.
    ASSERT_EQ(RegStoreSetDefault(key, TARVO_TEST_COMPONENT), S_OK);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
}

TEST(Runtime, CreatingNeedsInitialisation) {
    TempRegistry reg;
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many is harmless
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_NOTINITIALIZED);
}

TEST_F(RuntimeTest, LibraryUnloadsOnlyWhenItAllows) {
    ComPtr<ICalc> calc = Create();
    ASSERT_TRUE(calc);
    EXPECT_EQ(CoLoadedLibraryCount(), 1);
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1);  // an object is alive

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out_void()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    calc.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1);  // the server lock holds it

    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out_void()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 0);

    // And loads again, with fresh state.
    calc = Create();
    ASSERT_TRUE(calc);
    LONG objects = 0;
    calc->GetObjects(&objects);
    EXPECT_EQ(objects, 1);
}

TEST_F(RuntimeTest, AnUnlockWithoutALockDoesNotLetALiveObjectsLibraryGo) {
    ComPtr<ICalc> calc = Create();
    ASSERT_TRUE(calc);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out_void()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);  // never locked
    factory.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1);  // the object still holds it
    LONG objects = 0;
    EXPECT_EQ(calc->GetObjects(&objects), S_OK);
    EXPECT_EQ(objects, 1);
}

TEST_F(RuntimeTest, TypeLibraryIsReachableFromItsRegistration) {
    ComPtr<ITypeLib> tl;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, LOCALE_USER_DEFAULT, tl.out()), S_OK);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 1, 0, lib.out()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 2, 0, 0, lib.out()), TYPE_E_LIBNOTREGISTERED);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(tl->GetTypeInfoOfGuid(CLSID_TestCalc, coclass.out()), S_OK);
    const TypeDesc* d = nullptr;
    ASSERT_EQ(coclass->GetTypeDesc(&d), S_OK);
    EXPECT_EQ(d->default_source, DIID_ICalcEvents);

    // The object's own type info answers for its methods.
    ComPtr<ICalc> calc = Create();
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(calc->GetTypeInfo(0, 0, info.out()), S_OK);
    BstrHolder doc;
    ASSERT_EQ(info->GetDocumentation(3, nullptr, doc.out()), S_OK);
    EXPECT_EQ(doc.bytes(), "Raises an event");

    // A type library keeps the library loaded while it is held.
    calc.reset();
    info.reset();
    coclass.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1);
    tl.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 0);

    // Unregistering removes the library's entries.
    void* handle = dlopen(TARVO_TEST_COMPONENT, RTLD_NOW | RTLD_LOCAL);
    auto unreg = reinterpret_cast<DllUnregisterServerFn>(dlsym(handle, "DllUnregisterServer"));
    ASSERT_EQ(unreg(), S_OK);
    dlclose(handle);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, 0, tl.out()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\TypeLib\\" + GuidToString(LIBID_TestCalcLib)));
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\Tarvo.TestCalc"));
    EXPECT_TRUE(RegStoreSubkeys("HKCR\\CLSID").empty());
}

TEST_F(RuntimeTest, FreeThreadedMarshalerIsAggregated) {
    ComPtr<ICalc> calc = Create();
    ComPtr<IMarshal> marshal;
    ASSERT_EQ(calc->QueryInterface(IID_IMarshal, marshal.out_void()), S_OK);
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, a.out_void()), S_OK);  // identity is the outer object
    ASSERT_EQ(calc->QueryInterface(IID_IUnknown, b.out_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(marshal->DisconnectObject(0), E_NOTIMPL);
    IUnknown* inner = nullptr;
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), E_INVALIDARG);
}

TEST_F(RuntimeTest, EventsReachSinksFromTheObjectsThreads) {
    ComPtr<ICalc> calc = Create();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(calc->QueryInterface(IID_IConnectionPointContainer, container.out_void()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_ICalcEvents, point.out()), S_OK);
    RecordingSink sink(DIID_ICalcEvents);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    ASSERT_EQ(calc->Raise(2, 104, 0), S_OK);
    ASSERT_EQ(calc->Raise(3, 1, 5), S_OK);
    for (int i = 0; i < 200 && sink.calls().size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto calls = sink.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].id, 2);
    EXPECT_EQ(calls[0].args, std::vector<LONG>{104});
    EXPECT_EQ(calls[1].id, 3);
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(sink.refs, 0u);
}

TEST_F(RuntimeTest, ManyThreadsCreateAndCallAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                ComPtr<ICalc> calc = Create();
                LONG sum = 0;
                if (!calc || calc->Add(i, 1, &sum) != S_OK || sum != i + 1) ++failures;
                if (i % 5 == 0) CoFreeUnusedLibraries();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}
