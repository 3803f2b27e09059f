// Two driver objects talking HSMS over 127.0.0.1: an equipment (passive) and
// a host (active), each with a recording sink, connected and selected.
#pragma once

#include <string>

#include "tests/component/driver_env.h"

namespace tarvo::test {

struct DriverSide {
    ComPtr<ITarvo> driver;
    ComPtr<RecordingSink> sink;
    DWORD cookie = 0;

    // Stops calling the sink, then releases the driver.
    void release();
};

class LoopbackPair {
public:
    // Opens the equipment, then the host; ok() tells whether both are up and
    // the host's connection has been selected.
    LoopbackPair();
    ~LoopbackPair();

    bool ok() const { return ok_; }
    int port() const { return port_; }

    DriverSide equipment;
    DriverSide host;

private:
    int port_ = 0;
    bool ok_ = false;
};

// The side's sink takes every received message and answers each one that
// wants a reply with `reply`.
void reply_from_sink(DriverSide& side, const std::string& reply);

// The driver's BSTR answer of `method` as bytes.
std::string text_of(HRESULT (ITarvo::*method)(BSTR*), ITarvo* driver);
INT int_of(HRESULT (ITarvo::*method)(INT*), ITarvo* driver);

}  // namespace tarvo::test
