// Every message box of the client goes through this one interface, so tests
// can record the texts instead of blocking on a modal box.
#pragma once

#include <string>

class QWidget;

namespace tarvo::client {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A modal box with an OK button; `owner` may be null (no owner window).
    virtual void show(const std::string& text, const std::string& caption, QWidget* owner) = 0;

    // The boxes in use: Qt message boxes unless a test installed its own.
    static MessageBoxes& current();
    static void install(MessageBoxes* boxes);  // null: back to Qt message boxes
};

}  // namespace tarvo::client
