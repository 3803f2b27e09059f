// "Line type selector": a click on "SECS-I" or "HSMS" ends it at once with
// 40 or 37; "Cancel" ends it with QDialog::Rejected (0).
#pragma once

#include <QDialog>

namespace tarvo::client {

class LineTypeSelector : public QDialog {
public:
    explicit LineTypeSelector(QWidget* parent = nullptr);
};

}  // namespace tarvo::client
