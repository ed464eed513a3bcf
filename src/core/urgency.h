#pragma once

// Raises the calling thread to a real-time priority for as long as it lives, where the system
// allows it, and puts the thread back as it was after. For the few milliseconds around an instant
// that must not slip (a slot's tuning): a thread at an ordinary priority that wakes while another
// program keeps a core busy may wait for the scheduler's next tick, some 4 ms, before it runs.
// The code that sends a command ends the section once the bytes are out (EndOnThisThread), so a
// wait for the reply, which may run the event loop, runs at the ordinary priority.

#include <string>

class UrgentSection {
public:
    UrgentSection();
    ~UrgentSection();
    UrgentSection(const UrgentSection&) = delete;
    UrgentSection& operator=(const UrgentSection&) = delete;

    // Whether the thread runs at the real-time priority now.
    bool Raised() const { return raised; }
    // Why the system said no ("" when it did not).
    const std::string& Refusal() const { return refusal; }
    // Puts the calling thread back as it was if a section is open on it; that section's end then
    // changes nothing. Does nothing on a thread without one.
    static void EndOnThisThread();

    // Low among real-time priorities: above every ordinary thread, below sound servers (5 and up)
    // and the kernel's own real-time threads. A lower limit for the user (RLIMIT_RTPRIO) is used
    // instead where it is at least 1.
    static constexpr int kPriority = 4;

private:
    void Restore();

    UrgentSection* outer = nullptr; // the section this one is nested in, on the same thread
    bool raised = false;
    int oldPolicy = 0;
    int oldPriority = 0;
    std::string refusal;
};
