// A host program in a few lines: creates the driver by its program id, opens
// an active HSMS line to an equipment, asks S1F1W and prints the answer.
//
//   example_host PORT [HOST]
//
// The driver must be registered (tarvo-regsvr); it reports through events,
// which this program takes with a small sink on _ITarvoEvents.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/component/itarvo.h"
#include "driver/component/tarvo_guids.h"
#include "platform/com/com.h"

using namespace tarvo;

// Counts OnSecsRead (dispatch id 1) and OnSecsWritten (3) events.
class Sink final : public IDispatch {
public:
    std::atomic<int> reads{0}, written{0};
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__ITarvoEvents) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 1) ++reads;
        if (id == 3) ++written;
        return S_OK;
    }
};

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: example_host PORT [HOST]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int status = 1;
    {
        ComPtr<ITarvo> driver;
        HRESULT hr = CoCreateInstance(CLSID_Quill1, nullptr, CLSCTX_INPROC_SERVER, IID_ITarvo, driver.out_void());
        if (FAILED(hr)) {
            std::fprintf(stderr, "cannot create the driver: 0x%08X (%s)\n", static_cast<unsigned>(hr),
                         CoLastLoadError().c_str());
            return 1;
        }
        Sink sink;
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        driver->QueryInterface(IID_IConnectionPointContainer, container.out_void());
        container->FindConnectionPoint(DIID__ITarvoEvents, point.out());
        point->Advise(&sink, &cookie);

        driver->SetLineType(ltHSMS);
        driver->SetConnectionMode(cmACTIVE);
        BstrHolder host(argc > 2 ? argv[2] : "127.0.0.1");
        driver->SetHost(host.get());
        driver->SetPort(std::atoi(argv[1]));
        LONG active = 0;
        driver->SetActive(1, &active);
        if (active == 1) {
            BstrHolder s1f1("S1F1 W");
            driver->SendMessage(s1f1.get());
            for (int i = 0; i < 500 && sink.reads.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            BSTR text = nullptr;
            if (sink.reads.load() > 0 && SUCCEEDED(driver->NextMessageSML(&text))) {
                std::printf("%s", BytesFromBstr(text).c_str());
                SysFreeString(text);
                status = 0;
            }
            driver->SetActive(0, &active);
        } else {
            std::fprintf(stderr, "the line could not be opened\n");
        }
        point->Unadvise(cookie);
    }
    CoUninitialize();
    return status;
}
