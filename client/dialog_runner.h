// How the client runs a modal dialog. The program uses QDialog::exec; tests
// (and the screenshot mode) pass their own, which may fill in fields and
// answer at once without showing anything.
#pragma once

#include <functional>

class QDialog;

namespace tarvo::client {

using DialogRunner = std::function<int(QDialog&)>;

DialogRunner exec_runner();  // QDialog::exec

}  // namespace tarvo::client
