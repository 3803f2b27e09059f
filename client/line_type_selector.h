// "Line type selector": a click on "SECS-I" or "HSMS" ends it at once with
// 40 or 37; "Cancel" and Escape end it with QDialog::Rejected (0). Enter
// chooses the focused radio button; no button is a default.
#pragma once

#include <QDialog>

namespace tarvo::client {

class LineTypeSelector : public QDialog {
public:
    explicit LineTypeSelector(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tarvo::client
