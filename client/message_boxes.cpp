#include "client/message_boxes.h"

#include <QMessageBox>
#include <QString>

namespace tarvo::client {

namespace {

class QtBoxes final : public MessageBoxes {
public:
    void show(const std::string& text, const std::string& caption, QWidget* owner) override {
        QMessageBox::information(owner, QString::fromLatin1(caption), QString::fromLatin1(text));
    }
};

MessageBoxes* installed = nullptr;

}  // namespace

MessageBoxes& MessageBoxes::current() {
    static QtBoxes qt;
    return installed ? *installed : qt;
}

void MessageBoxes::install(MessageBoxes* boxes) { installed = boxes; }

}  // namespace tarvo::client
