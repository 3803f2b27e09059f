// What the settings dialogs apply to the driver, apart from the widgets that
// show it: the field values, the snapshot taken when a dialog opens, and the
// order of the setter calls on "OK". A value reaches the driver only when it
// differs from what the dialog showed when it opened; the port always does.
// A driver object that has not received a dialog's values yet gets them all,
// so what the dialog shows is what the driver uses.
#pragma once

#include <cstdint>
#include <string>

#include "driver/component/itarvo.h"

namespace tarvo::client {

// Owned by the main window and shared by both line dialogs.
struct SharedValues {
    int32_t device_id = 111;
    int32_t source_id = 0;
    int32_t transaction = 2;  // the main window's transaction counter
    int32_t t3 = 45000;
};

// Decimal text to a 32-bit integer: leading blanks skipped, stops at the
// first non-digit, no digits give 0.
int32_t to_int(const std::string& text);

struct Secs1Fields {
    std::string port = "1", baud = "19200", t1 = "500", t2 = "10000", t3 = "45000", t4 = "45000", retry = "3";
    bool master = false;
    std::string device_id, transaction, source_id = "0";
};
struct Secs1Snapshot {
    int32_t baud = 0, port = 0, retry = 0, t1 = 0, t2 = 0, t4 = 0;
    bool master = false;
};
Secs1Snapshot snapshot_of(const Secs1Fields& f);
// The fields the snapshot covers, back as they were.
void restore(Secs1Fields& f, const Secs1Snapshot& s);
// In the order of the dialog's setters; `all`: every value, for a driver
// object that has not received this dialog's values yet.
void apply(const Secs1Fields& f, Secs1Snapshot& snapshot, SharedValues& shared, ITarvo* driver, bool all = false);

struct HsmsFields {
    int mode = cmALTERN;
    std::string host = "127.0.0.1";
    std::string port = "5000", t3 = "45000", t5 = "10000", t6 = "5000", t7 = "10000", t8 = "5000", connects = "15",
                retry = "10";
    std::string device_id, transaction, source_id = "0";
};
struct HsmsSnapshot {
    std::string host;
    int mode = cmALTERN;
    int32_t port = 0, connects = 0, retry = 0, t5 = 0, t6 = 0, t7 = 0, t8 = 0;
};
HsmsSnapshot snapshot_of(const HsmsFields& f);
void restore(HsmsFields& f, const HsmsSnapshot& s);
void apply(const HsmsFields& f, HsmsSnapshot& snapshot, SharedValues& shared, ITarvo* driver, bool all = false);

// The log dialog: its check boxes in the order of the dialog, each with its
// mask bit.
struct LogFields {
    bool write = true;
    std::string file_name = "Tarvo.log";
    static constexpr int kBoxes = 12;
    static const int32_t kBits[kBoxes];      // mask bit values, in dialog order
    static const char* const kLabels[kBoxes];
    bool boxes[kBoxes] = {true, true, false, true, true, false, false, false, false, true, true, false};
    int32_t mask() const;  // 4096 plus the bits of the checked boxes
};
void apply(const LogFields& f, ITarvo* driver);

}  // namespace tarvo::client
