// One opening of a line settings dialog (SECS-I or HSMS), the same for both:
// the main window's shared values go into their fields, the first opening
// fills in the defaults, the snapshot is taken, the dialog runs; "OK"
// applies to the driver, anything else restores the snapshot. A `fresh`
// driver object (one that has not received this dialog's values) gets every
// value the dialog shows, on "OK" and on "Cancel" alike.
//
// `Dialog` offers fields() and show_fields(fields), whose fields include the
// shared ones (device_id, transaction, source_id, t3), and the members
// `filled` and `snapshot`.
#pragma once

#include <string>

#include <QDialog>

#include "client/dialog_runner.h"
#include "client/settings_values.h"

namespace tarvo::client {

// The defaults of every field, except the ids the main window wrote (T3 and
// OutSourceID get their defaults too). Also what "Default" shows.
template <class Dialog>
void fill_line_defaults(Dialog& dialog) {
    const auto shown = dialog.fields();
    decltype(dialog.fields()) d;
    d.device_id = shown.device_id;
    d.transaction = shown.transaction;
    dialog.show_fields(d);
}

// The main window's values in the shared fields.
template <class Fields>
void put_shared(Fields& f, const SharedValues& shared) {
    f.device_id = std::to_string(shared.device_id);
    f.transaction = std::to_string(shared.transaction);
    f.source_id = std::to_string(shared.source_id);
    f.t3 = std::to_string(shared.t3);
}

template <class Dialog>
int run_line_dialog(Dialog& dialog, SharedValues& shared, ITarvo* driver, const DialogRunner& exec, bool fresh) {
    auto f = dialog.fields();
    put_shared(f, shared);
    dialog.show_fields(f);
    if (!dialog.filled) {
        fill_line_defaults(dialog);
        dialog.filled = true;
    }
    dialog.snapshot = snapshot_of(dialog.fields());
    const int result = exec(dialog);
    if (result != QDialog::Accepted) {
        auto f = dialog.fields();
        restore(f, dialog.snapshot);
        put_shared(f, shared);  // the main window's values again
        dialog.show_fields(f);
        if (!fresh) return result;
    }
    apply(dialog.fields(), dialog.snapshot, shared, driver, fresh);
    return result;
}

}  // namespace tarvo::client
