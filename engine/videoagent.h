#pragma once

#include "dataqueue.h"
#include "engineoptions.h"

#include <QObject>
#include <QSize>

#include <atomic>
#include <cstdint>

class PixelPacket;
class PlaybackClock;

// Sits between the decoder thread and the display: queues every converted picture with its
// presentation time and, once per due frame, hands out the picture to show now by comparing the
// oldest queued picture with the playback clock (drop it when late, hold the shown one when it is
// early, advance otherwise; the playback clock decides, see PlaybackClock::picture()). With the
// noAudio option (framewise, seekprobe) every request advances by one picture and sets the clock
// to it instead.
//
// Threads: blankPicture() and queuePicture() run on the decoder thread (under the decoder's lock); nextPicture(),
// flush() and setSerial() from the controlling side, dispose() and destruction on the GUI thread.
// m_Pictures has its own lock; m_Current, m_Inside and m_DisposePending are the GUI thread's
// alone; m_Serial is an atomic. The clock is the decoder's and guards itself.
//
// Re-entrancy: the drop loop lets the GUI thread process its events between drops. Two things
// must not happen from those events:
// - a nested request: nextPicture() called again while a call is running returns the shown
//   picture without dropping or advancing. Players must not re-enter their display tick from
//   those events either.
// - destruction under the loop: the owner releases the agent with dispose(), never with delete.
//   Called from inside a running nextPicture(), dispose() only flushes and marks the agent; the
//   loop stops at once without touching the clock again, the running call returns null, and the
//   agent deletes itself as that call returns. The returned picture of a request that ends this
//   way is null, so the caller holds nothing of a destroyed agent; callers must not touch their
//   decoder after a nextPicture() call whose event processing may have destroyed it.
class VideoAgent : public QObject {
    Q_OBJECT
public:
    // The reader's mark: it stops for the pictures once this many are queued, as long as the
    // sound has enough queued too. Large pictures lower it (see markFor()).
    static constexpr int queueCapacity = 31;
    // The mark for pictures of the given size (bytes of one picture as queued): queueCapacity, or
    // as many as fit in pictureMarkBudgetBytes when 31 would not, but never fewer than markFloor,
    // where the reading rule counts a queue as running short: 31 pictures cut for a 640x480
    // window, 18 of them at 1280x720 or of a whole 720p picture, 16 of a whole 1080p one (they
    // took 96 MB), 16 of 4K (they took 384 MB).
    static constexpr int64_t pictureMarkBudgetBytes = int64_t(24) << 20;
    static constexpr int markFloor = 16;
    static int markFor(int64_t pictureBytes);
    // The mark for the pictures being queued now (worker thread).
    int mark() const { return markFor(m_QueuedBytes); }
    // The bound on the picture memory. While the stream the clock needs has nothing queued
    // (sound muxed far ahead of or behind the pictures), the reader goes on past queueCapacity up
    // to queueLimit() pictures: as many as fit in pictureQueueBudgetBytes, at least
    // queueCapacity, at most maxQueuedPictures. So the queue with its pool never holds more than
    // max(queueCapacity, min(maxQueuedPictures, budget / picture bytes)) buffers: 128 MiB (43
    // pictures of 1080p 4:2:0, as many as 256 MiB held in RGB24), or 31 pictures when one is
    // larger than 4 MiB.
    static constexpr int64_t pictureQueueBudgetBytes = int64_t(128) << 20;
    static constexpr int maxQueuedPictures = 600;
    static int queueLimit(int64_t pictureBytes);
    // Free buffers the pool keeps: the highest mark's worth, the picture on screen and the one
    // being filled. What the reader took beyond that is freed as it comes back.
    static constexpr int pooledPictures = queueCapacity + 2;

    // clock: the decoder's playback clock; width, height: the opened picture size (the queue's
    // buffers hold one planar 4:2:0 picture, PixelPacket::bufferSize, 1.5 bytes a pixel); durationUs: the container's duration.
    VideoAgent(PlaybackClock *clock, int width, int height, int64_t durationUs, const EngineOptions &options);
    ~VideoAgent() override;

    // Room past the picture in every pool buffer: the scaler may write a few bytes past the last
    // packed row of a plane with some widths.
    static constexpr int pictureSlack = 64;

    // A picture of the opened size, or of a smaller one (a picture cut and scaled for the display),
    // whose buffer comes from the pool unwritten (planar 4:2:0, at least pictureSlack bytes of
    // room after it), for the decoder to copy or scale the planes straight into. Null when the
    // size is larger than the opened one or the pool cannot supply one. The caller owns it until
    // queuePicture().
    PixelPacket *blankPicture(QSize size = QSize());
    // Queues a picture from blankPicture() (the queue destroys it when full).
    void queuePicture(PixelPacket *picture);

    // The picture to show now: the newly due one, the one shown last (held, empty queue, nested
    // call), or null when pictures were just dropped (or none was ever shown). The agent keeps
    // ownership; the picture stays valid until a later call advances past it or the agent goes.
    PixelPacket *nextPicture();

    // Destroys every queued picture; the shown one stays.
    virtual void flush();

    // The seek serial whose pictures may be handed out (DecoderAgent::seekSerial()): pictures of an
    // older one are destroyed unseen, and a shown picture of an older one is not handed out again
    // (the request returns null until a picture of the new position is queued).
    void setSerial(int serial) { m_Serial.store(serial); }
    // The input has been read to its end: the one picture left queued may be the clip's last,
    // which is shown however late (it stays on screen), not dropped.
    void setInputEnded(bool ended) { m_InputEnded.store(ended); }
    int serial() const { return m_Serial.load(); }
    // For consumers that bypass the scheduling (tools, tests): the oldest queued picture of the
    // current serial, owned by the caller; null when none.
    PixelPacket *takePicture();
    // The time of the picture the next request would consider; false when none of the current
    // serial is queued.
    bool nextTime(double *time);

    // Every request advances by one picture and sets the clock to it (framewise, seekprobe).
    void setNoAudio(bool noAudio) { m_NoAudio = noAudio; }
    bool noAudio() const { return m_NoAudio; }

    // Releases the agent: deletes it now, or, from inside its own running nextPicture(), as soon
    // as that call returns.
    void dispose();

    DataQueue &pictures() { return m_Pictures; }
    PixelPacket *current() const { return m_Current; }
    int width() const { return m_Width; }
    int height() const { return m_Height; }

private:
    PixelPacket *choose();
    PixelPacket *advance();
    void dropLoop(int diff);
    // The input has ended and one picture is left: it may be the clip's last.
    bool lastLeft();

    DataQueue m_Pictures;
    PlaybackClock *m_Clock;   // not owned; the decoder's
    const int m_Width;
    const int m_Height;
    const int64_t m_DurationUs;
    const EngineOptions m_Options;
    int64_t m_QueuedBytes = 0;          // worker thread: the size of the last picture queued
    PixelPacket *m_Current = nullptr;   // owned; the picture handed out last
    std::atomic<int> m_Serial{0};       // set by the controlling thread, read by the GUI thread
    std::atomic<bool> m_InputEnded{false};   // set by the controlling and worker threads
    bool m_NoAudio = false;
    bool m_Inside = false;              // a nextPicture() call is running
    bool m_DisposePending = false;      // dispose() came while a call was running
};
