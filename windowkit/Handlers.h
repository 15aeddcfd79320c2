#pragma once

#include "windowkit/Messages.h"

#include <exception>

// Wraps an event handler for connect(): an exception leaving the handler is
// shown with the exception display and the program goes on. Catching it here,
// before it reaches the toolkit's own frames, leaves the toolkit's state
// whole; TApplication::notify catches whatever comes through elsewhere.
//   connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm1::BitBtn1Click));
template <typename Window, typename... Args>
auto handler(Window* window, void (Window::*method)(Args...)) {
    return [window, method](Args... args) {
        try {
            (window->*method)(args...);
        } catch (const std::exception& e) {
            Messages::showException(e);
        }
    };
}

// The same for a handler that is a plain function or a lambda taking nothing.
template <typename Function> auto handler(Function function) {
    return [function] {
        try {
            function();
        } catch (const std::exception& e) {
            Messages::showException(e);
        }
    };
}
