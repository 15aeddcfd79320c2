#pragma once

#include <functional>

// Ending the program. "&Sair", Alt+F4, the "&Sair" button and the main
// window's close button all ask through requestQuit(). While a file send runs
// the request is only recorded: the send loop pumps events, and quitting under
// it would tear the windows down in the middle of a block. The send loop marks
// itself with a SendScope; when the scope ends, a recorded request is honoured.
namespace ProgramEnd {

// Ends the program at once, or records the request while a send runs.
void requestQuit();
// Whether a request is waiting for the running send to return.
bool quitPending();
// Whether a file send loop is running.
bool sendRunning();

// Marks a running file send for its lifetime. On destruction (normal return
// or an exception leaving the loop) a recorded quit request is carried out.
class SendScope {
public:
    SendScope();
    ~SendScope();
    SendScope(const SendScope&) = delete;
    SendScope& operator=(const SendScope&) = delete;
};

// What "end the program" does: leave the event loop, whatever windows are
// open (main() then destroys them all), unless a test has
// installed something else. Returns the previous action; an empty one
// restores the default.
using Quitter = std::function<void()>;
Quitter setQuitter(Quitter quitter);

} // namespace ProgramEnd
