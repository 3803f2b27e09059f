// One opening of a line settings dialog (SECS-I or HSMS), the same for both:
// the main window's shared values go into their fields, the first opening
// fills in the defaults, the snapshot is taken, the dialog runs; "OK"
// applies to the driver, anything else restores the snapshot.
//
// `Dialog` offers fields(), show_fields(fields), fill_defaults(),
// show_shared(shared), and the members `filled` and `snapshot`.
#pragma once

#include <QDialog>

#include "client/dialog_runner.h"
#include "client/settings_values.h"

namespace tarvo::client {

template <class Dialog>
int run_line_dialog(Dialog& dialog, SharedValues& shared, ITarvo* driver, const DialogRunner& exec) {
    dialog.show_shared(shared);
    if (!dialog.filled) {
        dialog.fill_defaults();
        dialog.filled = true;
    }
    dialog.snapshot = snapshot_of(dialog.fields());
    const int result = exec(dialog);
    if (result == QDialog::Accepted) {
        apply(dialog.fields(), dialog.snapshot, shared, driver);
    } else {
        auto f = dialog.fields();
        restore(f, dialog.snapshot);
        dialog.show_fields(f);
    }
    return result;
}

}  // namespace tarvo::client
