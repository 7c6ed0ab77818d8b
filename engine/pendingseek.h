#pragma once

#include <QMutex>

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
// replaces one not yet taken (rapid clicks: the last wins).
//
// Threads: post() on the controlling thread, take() and unlessPosted() on the worker, clear()
// while the worker is stopped; m_Mutex guards the request.
class PendingSeek {
public:
    // Stores the request, replacing one not yet taken.
    void post(const SeekRequest &request);
    // The request to carry out, if one waits; it is gone from here afterwards.
    std::optional<SeekRequest> take();
    // Runs f unless a request waits, as one step with post(): the worker ends its run only when
    // no seek came that would have kept it reading. True when f ran.
    bool unlessPosted(const std::function<void()> &f);
    // Forgets a waiting request (the input is closed).
    void clear();

private:
    QMutex m_Mutex;
    SeekRequest m_Request;   // guarded by m_Mutex
    bool m_Waiting = false;  // guarded by m_Mutex
};
