#pragma once

#include "sim/paper/PaperModel.h"

#include <QtGlobal>

#include <deque>
#include <functional>

// What the printer still holds, and nothing else: the jobs waiting for the
// head, each with the bytes it frees once printed, and the bytes taken in but
// not yet acted on (the text line being filled, the command being parsed).
// Bytes that print nothing never come here: they are acted on when parsed, so
// a stream of them cannot fill the buffer. It also paces the head, one line
// at a time, and keeps the "nearly full" mark the ready line follows.
class PrintQueue {
public:
    struct Job {
        enum class Kind {
            Line,   // one line onto the paper (a marker takes no time)
            Feed,   // blank lines, one at a time: a feed of 255 is one job
            Drawer, // opens the drawer when it reaches the head
        };
        Kind kind = Kind::Line;
        PaperLine line;
        int feeds = 0; // Feed: the blank lines still to feed
        int bytes = 0; // what leaves the buffer once the job is done
    };
    // Puts one line of the job on the paper; for a Feed, one blank line.
    using Printer = std::function<void(const Job& job)>;

    explicit PrintQueue(int capacity) : capacity_(capacity) {}

    void setCapacity(int bytes);
    int capacity() const { return capacity_; }
    // The bytes taken in and not yet acted on, as the parser and the line
    // being filled count them now.
    void setHeld(int bytes);
    // The job's bytes were held until now: the caller says how many are
    // still held with setHeld() next, which also moves the nearly-full mark.
    void push(Job job);
    // Lets ms of head time pass, each line taking lineMs (0: no time at all).
    void print(qint64 ms, qint64 lineMs, const Printer& printer);
    // Paused (off-line, out of paper): time that passes is not saved up.
    void pause() { credit_ = 0; }
    void clear();

    bool hasJobs() const { return !jobs_.empty(); }
    // Authentication lines received whole and not yet printed: the ready
    // line waits for them under RTS signalling "autenticação".
    int authenticationsWaiting() const { return authentications_; }
    int fill() const { return queued_ + held_; }
    int room() const { return std::max(0, capacity_ - fill()); }
    // Set from seven eighths full until back at half, so a host held by the
    // ready line sends in large chunks instead of a byte at a time.
    bool nearlyFull() const { return nearlyFull_; }

private:
    static bool isAuthentication(const Job& job) {
        return job.kind == Job::Kind::Line && job.line.kind == PaperLine::Kind::Authentication;
    }
    void updateMark();

    int capacity_;
    std::deque<Job> jobs_;
    int queued_ = 0;
    int held_ = 0;
    int authentications_ = 0;
    qint64 credit_ = 0; // head time earned towards the job at the front
    bool nearlyFull_ = false;
};
