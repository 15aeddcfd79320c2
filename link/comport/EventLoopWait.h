#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>

class LineOpening;

// Waits for what descriptors bring. On the GUI thread the event loop runs
// meanwhile, so the window repaints and its handlers may run (callers
// tolerate that re-entry, as they do while an LED processes events); on any
// other thread, or without an application, it blocks in poll().
namespace EventLoopWait {

enum class End { Done, TimedOut, Cancelled };

struct Watch {
    int fd;
    bool write = false; // writable rather than readable
};

// Calls done() at once and each time a watched descriptor is ready, until
// it returns true, the deadline passes or opening is cancelled. done() must
// consume what made a descriptor ready, or the wait spins.
End until(std::initializer_list<Watch> watches, std::chrono::steady_clock::time_point deadline,
          const std::function<bool()>& done, LineOpening* opening = nullptr);

// Runs work on a thread of its own and waits for it as until() does. A
// thread that has finished is joined, so none is left behind; a wait that
// is cancelled or runs out leaves it to finish alone, so work must own what
// it touches. TimedOut also when no thread can be started.
End aside(std::function<void()> work, std::chrono::steady_clock::time_point deadline,
          LineOpening* opening = nullptr);

} // namespace EventLoopWait
