#pragma once

#include <QMutex>

#include <atomic>
#include <functional>
#include <optional>

// How a seek lands. Keyframe: on the last keyframe at or before the target. Exact: the same
// landing, then the pictures before the target are decoded but not shown, so the first picture
// is the one at the target (the clip's last when the target lies past it); its sound starts at
// the target too.
enum class SeekMode { Keyframe, Exact };

// One seek as asked for: seconds from the first picture, and the serial that tags every picture
// and sound block of the position it reaches.
struct SeekRequest {
    double seconds = 0.0;
    SeekMode mode = SeekMode::Keyframe;
    int serial = 0;
};

// The seek the controlling thread asked for and the worker has not started yet. A newer request
// replaces one not yet taken (rapid clicks: the last wins); every request gets the next serial.
//
// Threads: post() and serial() on the controlling thread, take() and unlessPosted() on the
// worker; m_Mutex guards the request, the serial is an atomic for the queries.
class PendingSeek {
public:
    // Stores the request and returns its serial (1 for the first).
    int post(double seconds, SeekMode mode);
    // The request to carry out, if one waits; it is gone from here afterwards.
    std::optional<SeekRequest> take();
    // Runs f unless a request waits, as one step with post(): the worker ends its run only when
    // no seek came that would have kept it reading. True when f ran.
    bool unlessPosted(const std::function<void()> &f);
    // Forgets a waiting request (the input is closed); the serial stays.
    void clear();
    // The serial of the last request (0 before any).
    int serial() const { return m_Serial.load(); }

private:
    QMutex m_Mutex;
    SeekRequest m_Request;   // guarded by m_Mutex
    bool m_Waiting = false;  // guarded by m_Mutex
    std::atomic<int> m_Serial{0};
};
