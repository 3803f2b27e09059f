// "SECS-I Settings": port, baud rate, master/slave, T1 to T4, retry and the
// ids the line dialogs share with the main window.
#pragma once

#include <QDialog>

#include "client/dialog_runner.h"
#include "client/settings_values.h"

class QCheckBox;
class QLineEdit;

namespace tarvo::client {

class Secs1Dialog : public QDialog {
public:
    explicit Secs1Dialog(QWidget* parent = nullptr);

    // One opening: the shared values go into their fields, the first opening
    // fills in the defaults, the snapshot is taken, `exec` runs the dialog;
    // "OK" applies to `driver` (a null driver gets nothing), "Cancel"
    // restores the snapshot. A `fresh` driver gets every value shown, on
    // "OK" and "Cancel" alike. Returns what `exec` returned.
    int run(SharedValues& shared, ITarvo* driver, const DialogRunner& exec, bool fresh = false);

    Secs1Fields fields() const;
    void show_fields(const Secs1Fields& f);

    // For run_line_dialog.
    bool filled = false;
    Secs1Snapshot snapshot;

private:
    QLineEdit *port_, *baud_, *t1_, *t2_, *t3_, *t4_, *retry_, *device_, *transaction_, *source_;
    QCheckBox* master_;
};

}  // namespace tarvo::client
