#include "tests/component/driver_env.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "driver/component/tarvo_guids.h"
#include "platform/com/server_exports.h"

namespace tarvo::test {

namespace {
std::string g_registry;
std::once_flag g_registered;
}  // namespace

const char* component_path() { return TARVO_COMPONENT_PATH; }

std::string registry_path() { return g_registry; }

void register_component() {
    std::call_once(g_registered, [] {
        char dir[] = "/tmp/tarvo-component-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        g_registry = std::string(dir) + "/registry";
        setenv("TARVO_REGISTRY", g_registry.c_str(), 1);
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        void* lib = dlopen(component_path(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        auto reg = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
        dlclose(lib);
        std::atexit([] { std::filesystem::remove_all(std::filesystem::path(g_registry).parent_path()); });
    });
}

ComPtr<ITarvo> create_driver() {
    register_component();
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(OleStringFromBytes(kProgId).c_str(), &clsid), S_OK);
    ComPtr<ITarvo> driver;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITarvo, driver.out_void()), S_OK);
    return driver;
}

int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) close(fd);
        return 0;
    }
    close(fd);
    return ntohs(a.sin_port);
}

std::string take_text(BSTR text) {
    std::string bytes = BytesFromBstr(text);
    SysFreeString(text);
    return bytes;
}

// ---- RecordingSink ----------------------------------------------------------------

ComPtr<RecordingSink> RecordingSink::create(std::string name, bool fail) {
    ComPtr<RecordingSink> sink;
    sink.attach(new RecordingSink(std::move(name), fail));
    return sink;
}

HRESULT RecordingSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, DIID__ITarvoEvents)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG RecordingSink::AddRef() { return ++refs_; }

ULONG RecordingSink::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT RecordingSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

HRESULT RecordingSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT RecordingSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    Event e{id, 0};
    if (params && params->cArgs == 1 && params->rgvarg[0].vt == VT_I4) e.arg = params->rgvarg[0].lVal;
    Hook hook;
    {
        std::lock_guard lock(mutex_);
        hook = hook_;
    }
    if (hook) hook(e);
    {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        if (shared_log_) {
            std::lock_guard shared(*shared_mutex_);
            shared_log_->push_back(name_ + ":" + std::to_string(id) + ":" + std::to_string(e.arg));
        }
    }
    changed_.notify_all();
    return fail_ ? E_FAIL : S_OK;
}

void RecordingSink::set_hook(Hook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void RecordingSink::set_shared_log(std::vector<std::string>* log, std::mutex* mutex) {
    std::lock_guard lock(mutex_);
    shared_log_ = log;
    shared_mutex_ = mutex;
}

std::vector<RecordingSink::Event> RecordingSink::events() {
    std::lock_guard lock(mutex_);
    return events_;
}

size_t RecordingSink::count(DISPID id, LONG arg) {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Event& e : events_)
        if (e.id == id && (id == DISPID_OnSecsRead || e.arg == arg)) ++n;
    return n;
}

bool RecordingSink::wait_for(DISPID id, LONG arg, size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        size_t k = 0;
        for (const Event& e : events_)
            if (e.id == id && (id == DISPID_OnSecsRead || e.arg == arg)) ++k;
        return k >= n;
    });
}

DWORD RecordingSink::advise_on(ITarvo* driver) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(driver->QueryInterface(IID_IConnectionPointContainer, container.out_void()))) return 0;
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(DIID__ITarvoEvents, point.out()))) return 0;
    DWORD cookie = 0;
    if (FAILED(point->Advise(static_cast<IDispatch*>(this), &cookie))) return 0;
    return cookie;
}

void RecordingSink::unadvise_from(ITarvo* driver, DWORD cookie) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(driver->QueryInterface(IID_IConnectionPointContainer, container.out_void()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__ITarvoEvents, point.out()), S_OK);
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
}

}  // namespace tarvo::test
