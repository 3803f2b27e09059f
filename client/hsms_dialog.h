// "HSMS Settings": connection mode, host, port, T3, T5 to T8, the passive
// connection limit, the alternation switches and the shared ids.
#pragma once

#include <QDialog>

#include "client/dialog_runner.h"
#include "client/settings_values.h"

class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace tarvo::client {

class HsmsDialog : public QDialog {
public:
    explicit HsmsDialog(QWidget* parent = nullptr);

    // As Secs1Dialog::run.
    int run(SharedValues& shared, ITarvo* driver, const DialogRunner& exec, bool fresh = false);

    HsmsFields fields() const;
    void show_fields(const HsmsFields& f);

    // For run_line_dialog.
    bool filled = false;
    HsmsSnapshot snapshot;

private:
    QRadioButton *active_, *passive_, *alternating_;
    QSpinBox* host_[4];  // the four numbers of the address
    QLineEdit *port_, *t3_, *t5_, *t6_, *t7_, *t8_, *connects_, *retry_, *device_, *transaction_, *source_;
};

}  // namespace tarvo::client
