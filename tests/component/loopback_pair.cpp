#include "tests/component/loopback_pair.h"

#include <chrono>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"

namespace tarvo::test {

void DriverSide::release() {
    if (sink) {
        sink->set_hook(nullptr);
        if (driver && cookie) sink->unadvise_from(driver.get(), cookie);
    }
    driver.reset();
    sink.reset();
}

LoopbackPair::LoopbackPair() {
    port_ = free_port();
    if (!port_) return;
    for (DriverSide* side : {&equipment, &host}) {
        side->driver = create_driver();
        if (!side->driver) return;
        side->sink = RecordingSink::create(side == &equipment ? "equipment" : "host");
        side->cookie = side->sink->advise_on(side->driver.get());
        side->driver->SetLineType(ltHSMS);
        side->driver->SetPort(port_);
        side->driver->SetT3(3000);
        side->driver->SetT5(300);
        side->driver->SetT6(2000);
        side->driver->SetT7(3100);  // every timer its own value
        side->driver->SetT8(1000);
    }
    ITarvo* e = equipment.driver.get();
    ITarvo* h = host.driver.get();
    e->SetConnectionMode(cmPASSIVE);
    e->SetMaster(1);
    LONG stat = 0;
    e->SetActive(1, &stat);
    if (stat != 1) return;

    BstrHolder loopback("127.0.0.1");
    h->SetConnectionMode(cmACTIVE);
    h->SetHost(loopback.get());
    h->SetActive(1, &stat);
    if (stat != 1) return;
    ok_ = host.sink->count(DISPID_OnSecsNotify, nHSMSConnectionActive) == 1 &&
          equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassivePlus, 1, std::chrono::seconds(3));
}

LoopbackPair::~LoopbackPair() {
    host.release();
    equipment.release();
}

std::string text_of(HRESULT (ITarvo::*method)(BSTR*), ITarvo* driver) {
    BSTR text = nullptr;
    if (FAILED((driver->*method)(&text))) return "<failed>";
    return take_text(text);
}

INT int_of(HRESULT (ITarvo::*method)(INT*), ITarvo* driver) {
    INT value = -12345;
    (driver->*method)(&value);
    return value;
}

void reply_from_sink(DriverSide& side, const std::string& reply) {
    ITarvo* d = side.driver.get();
    side.sink->set_hook([d, reply](const RecordingSink::Event& ev) {
        if (ev.id != DISPID_OnSecsRead) return;
        d->NextMessage();
        LONG w = 0;
        d->GetInWBit(&w);
        if (!w) return;
        BstrHolder text(reply);
        d->Reply(text.get());
    });
}

}  // namespace tarvo::test
