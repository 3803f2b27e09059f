#include "client/settings_values.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/com/bstr.h"

namespace tarvo::client {

namespace {

// Calls `set` when `value` differs from `seen` (or with `everything`
// whatever it is), and `seen` takes the value first.
template <class Set>
void if_changed(int32_t value, int32_t& seen, Set set, bool everything) {
    if (value == seen && !everything) return;
    seen = value;
    set(value);
}

void set_text(ITarvo* driver, HRESULT (ITarvo::*method)(BSTR), const std::string& text) {
    BSTR b = BstrFromBytes(text);
    (driver->*method)(b);
    SysFreeString(b);
}

// The ids both line dialogs share with the main window.
void apply_shared(const std::string& device, const std::string& source, const std::string& transaction,
                  SharedValues& shared, ITarvo* driver, bool all) {
    if_changed(to_int(device), shared.device_id, [driver](int32_t v) {
        LONG result = 0;
        driver->SetOutDeviceID(v, &result);
    }, all);
    if_changed(to_int(source), shared.source_id, [driver](int32_t v) { driver->SetOutSourceID(v); }, all);
    if_changed(
        to_int(transaction), shared.transaction, [driver](int32_t v) { driver->SetOutTransactionID(v); }, all);
}

}  // namespace

int32_t to_int(const std::string& text) {
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

Secs1Snapshot snapshot_of(const Secs1Fields& f) {
    return {to_int(f.baud), to_int(f.port), to_int(f.retry), to_int(f.t1), to_int(f.t2), to_int(f.t4), f.master};
}

void restore(Secs1Fields& f, const Secs1Snapshot& s) {
    f.baud = std::to_string(s.baud);
    f.port = std::to_string(s.port);
    f.retry = std::to_string(s.retry);
    f.t1 = std::to_string(s.t1);
    f.t2 = std::to_string(s.t2);
    f.t4 = std::to_string(s.t4);
    f.master = s.master;
}

void apply(const Secs1Fields& f, Secs1Snapshot& s, SharedValues& shared, ITarvo* driver, bool all) {
    if (!driver) return;
    if_changed(to_int(f.baud), s.baud, [driver](int32_t v) { driver->SetBaudRate(v); }, all);
    s.port = to_int(f.port);
    driver->SetPort(s.port);
    if_changed(to_int(f.retry), s.retry, [driver](int32_t v) { driver->SetRetry(v); }, all);
    if (f.master != s.master || all) {
        s.master = f.master;
        driver->SetMaster(f.master ? 1 : 0);
    }
    if_changed(to_int(f.t1), s.t1, [driver](int32_t v) { driver->SetT1(v); }, all);
    if_changed(to_int(f.t2), s.t2, [driver](int32_t v) { driver->SetT2(v); }, all);
    if_changed(to_int(f.t3), shared.t3, [driver](int32_t v) { driver->SetT3(v); }, all);
    if_changed(to_int(f.t4), s.t4, [driver](int32_t v) { driver->SetT4(v); }, all);
    apply_shared(f.device_id, f.source_id, f.transaction, shared, driver, all);
}

HsmsSnapshot snapshot_of(const HsmsFields& f) {
    return {f.host,        f.mode,        to_int(f.port), to_int(f.connects), to_int(f.retry),
            to_int(f.t5), to_int(f.t6), to_int(f.t7),   to_int(f.t8)};
}

void restore(HsmsFields& f, const HsmsSnapshot& s) {
    f.host = s.host;
    f.mode = s.mode;
    f.port = std::to_string(s.port);
    f.connects = std::to_string(s.connects);
    f.retry = std::to_string(s.retry);
    f.t5 = std::to_string(s.t5);
    f.t6 = std::to_string(s.t6);
    f.t7 = std::to_string(s.t7);
    f.t8 = std::to_string(s.t8);
}

void apply(const HsmsFields& f, HsmsSnapshot& s, SharedValues& shared, ITarvo* driver, bool all) {
    if (!driver) return;
    if (f.host != s.host || all) {
        s.host = f.host;
        set_text(driver, &ITarvo::SetHost, f.host);
    }
    s.port = to_int(f.port);
    driver->SetPort(s.port);
    if (f.mode != s.mode || all) {
        s.mode = f.mode;
        driver->SetConnectionMode(static_cast<enum_HSMS_CONN_MODE>(f.mode));
    }
    if_changed(
        to_int(f.connects), s.connects, [driver](int32_t v) { driver->SetMaxPassvConnections(v); }, all);
    if_changed(to_int(f.retry), s.retry, [driver](int32_t v) { driver->SetMaxAlternSwitches(v); }, all);
    if_changed(to_int(f.t3), shared.t3, [driver](int32_t v) { driver->SetT3(v); }, all);
    if_changed(to_int(f.t5), s.t5, [driver](int32_t v) { driver->SetT5(v); }, all);
    // T6 to T8 reach the driver too (shown, defaulted and restored like the
    // rest, they would otherwise be a setting that does nothing).
    if_changed(to_int(f.t6), s.t6, [driver](int32_t v) { driver->SetT6(v); }, all);
    if_changed(to_int(f.t7), s.t7, [driver](int32_t v) { driver->SetT7(v); }, all);
    if_changed(to_int(f.t8), s.t8, [driver](int32_t v) { driver->SetT8(v); }, all);
    apply_shared(f.device_id, f.source_id, f.transaction, shared, driver, all);
}

const int32_t LogFields::kBits[kBoxes] = {1, 2, 512, 4, 8, 16, 32, 128, 256, 64, 1024, 2048};
const char* const LogFields::kLabels[kBoxes] = {
    "Timeout x T5",   "Timeout T5",       "Msg General",   "Msg Name Send",     "Msg Name Recived",
    "Msg Header Send", "Msg Header Received", "Full Msg Send", "Full Msg Received", "Line records",
    "General Info about Port", "Detailed Info about Port"};

int32_t LogFields::mask() const {
    int32_t m = 4096;
    for (int i = 0; i < kBoxes; ++i) {
        if (boxes[i]) m += kBits[i];
    }
    return m;
}

void apply(const LogFields& f, ITarvo* driver) {
    if (!driver) return;
    set_text(driver, &ITarvo::SetLogFileName, f.file_name);
    driver->SetLogActive(f.write ? 1 : 0);
    driver->SetLogAdjust(f.mask());
}

}  // namespace tarvo::client
