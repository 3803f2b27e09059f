// A received message taken from the driver as the main window shows it: its
// header, and with "Full recvd msg" its text in the chosen view. Runs on any
// thread (the window takes large messages off its own). Each view's text is
// at most `limit` characters, followed by a line saying what was left out;
// the element view stops asking the driver for elements at that point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "client/companion_windows.h"
#include "driver/component/itarvo.h"

namespace tarvo::client {

constexpr size_t kShownTextLimit = size_t{1} << 20;

struct ReceivedMessage {
    INT stream = 0, function = 0;
    LONG w = 0;
    bool full = false;  // `text` holds the view's text
    std::string text;
};

// `view`: none for NextMessage alone.
ReceivedMessage take_received(ITarvo* driver, std::optional<ReceivedWindow::View> view,
                              size_t limit = kShownTextLimit);

// "S%dF%dW" when `w` is exactly 1, else "S%dF%d".
std::string received_name(int stream, int function, long w);

}  // namespace tarvo::client
