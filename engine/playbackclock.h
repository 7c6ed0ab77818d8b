#pragma once

#include "schedulerdecision.h"

#include <cstdint>
#include <functional>
#include <QMutex>

// The one playback clock of an open clip, in seconds of the clip. It decides itself who drives it:
//
// - the sound, while it plays: the clock is the sound as heard. Every audio callback hands the
//   device a buffer; the sound in it is heard after the device's delay (what the device and the
//   sound server still hold ahead of it). So a callback sets the clock to the time of the end of
//   the sound handed over minus that delay (less the silence that follows the sound in the
//   buffer), and between callbacks the clock runs on with monotonic time, but never past the
//   next block: not more than one buffer beyond the callback's value, and never past the end of
//   the sound handed over. A late callback (a busy core) makes the clock wait for it rather than
//   run ahead of the sound. Callbacks come late, never early, so a callback that finds the clock
//   run on from the one before ahead of its own value (by less than a buffer) keeps that value,
//   yielding only slowly: the clock follows the earliest callbacks, not each one's lateness. (The clock used to be the start time of the block last handed over:
//   ahead of the ear by the device's delay, standing still between callbacks.)
// - the pictures, paced by monotonic time, whenever the sound cannot: before the first sound,
//   after a seek (or a restart) until the sound of the new position plays, while the sound has a
//   hole or has ended, and always when the clip has no sound or no device. The sound counts as
//   ended once callbacks that found nothing to play have covered the device's delay (the silence
//   has reached the ear); time alone never hands the clock over, so a device with a long period
//   or a callback delayed by a busy core does not flip it. The first picture asked for anchors
//   the clock; it then runs with monotonic time, and a picture is shown once the clock reaches it
//   (within half a picture interval) and dropped when late, so pictures play at their own times
//   whatever the display's tick.
//
// Sound decides chunk by chunk (sound()): a chunk that will be heard at or before the clock plays
// and takes the clock over, stepping it back by at most one picture interval; one more than that
// behind the clock is skipped (its pictures are gone), except that the first sound of a new
// position is only skipped when it lies before the first picture shown (a device slow to start
// makes the pictures wait rather than lose the start of the sound); one ahead of the clock waits, the device
// playing silence meanwhile, so sound that starts late plays at its time and a hole plays as
// silence. A block queued before the last restart (the old position of a seek) is skipped and
// never touches the clock: every block carries the generation it was decoded in.
//
// Paused (or stopped), the clock stands still and nothing changes who drives it.
//
// Threads: the audio callback (sound(), callbackDone()), the decoder thread (pictureQueued()) and
// the GUI thread (picture(), load(), the controls) all go through m_Mutex, held only for a few
// arithmetic steps; nothing blocks under it. The time source is injected (monotonic seconds) so
// that the decisions can be checked by table.
class PlaybackClock {
public:
    using Now = std::function<double()>;

    // A chunk this far past the end of the sound before it is a hole, not the sound continuing.
    static constexpr double holeAfter = 0.1;
    // How fast the clock yields to later callbacks (see callbackDone()): a share of the time run.
    static constexpr double followYield = 0.02;
    // While the pictures drive, a picture this late pulls the clock back to it.
    static constexpr double pullBackAfter = 0.5;

    enum class Driver { Pictures, Sound };
    enum class SoundAction {
        Play,   // hand it to the device; the clock follows it
        Wait,   // ahead of the clock: play silence and offer it again at the next callback
        Skip,   // behind the clock or of an old position: drop it and take the next
    };

    // now: monotonic seconds; empty means the steady clock.
    explicit PlaybackClock(Now now = Now());

    // Seconds between pictures (1 / frame rate); 0.04 until set.
    void setPictureInterval(double seconds);
    // No sound will ever play (no audio stream, no decoder, no device): the pictures always drive.
    void setSoundless(bool soundless);
    // The audio device as opened: seconds of sound one callback fills, and seconds from the end
    // of a callback until the end of its buffer is heard. Both 0 until set: the clock is then the
    // end of the sound handed over.
    void setDevice(double bufferSeconds, double delaySeconds);

    // Back to time 0, pictures driving and not anchored, paused (a freshly opened clip).
    void reset();
    // A new position (seek, restart): the pictures drive, unanchored, until its sound plays;
    // blocks decoded before this are skipped. The value stays until then.
    void restart();
    int generation() const;

    void pause();
    void resume();
    bool isPaused() const;

    // The clock now, in seconds.
    double load() const;
    // Sets the clock (the stopped clip's creeping position, framewise's picture clock); who drives
    // it stays as it was.
    void store(double seconds);
    Driver driver() const;

    // Decoder thread: a picture of the current position was queued (the first one after a restart
    // tells the sound where the pictures will start).
    void pictureQueued(double time);

    // Audio thread: one chunk of sound at time seconds lasting duration seconds, decoded in
    // generation, to go into the current callback's buffer after offset seconds of it.
    SoundAction sound(double time, double duration, int generation, double offset);
    // Audio thread: the callback has filled its buffer (with the chunks played since the last
    // call, and silence after them).
    void callbackDone();

    // GUI thread: what to do with the oldest queued picture at time seconds. While the sound drives
    // it is the scheduler's rule (SchedulerDecision); while the pictures drive: show it once due
    // (anchoring the clock at it when unanchored, a second or more ahead, or pullBackAfter late),
    // hold it while early, drop it when late as the sound's rule counts it.
    PictureAction picture(double time, int64_t durationUs);

private:
    double valueLocked(double now) const;
    void anchorLocked(double time, double now);
    // The pictures drive from where the clock stands now.
    void picturesTakeOverLocked(double now);

    Now m_Now;
    mutable QMutex m_Mutex;
    // Everything below is guarded by m_Mutex.
    Driver m_Driver = Driver::Pictures;
    double m_Value = 0.0;      // the clock at m_AnchorAt
    double m_AnchorAt = 0.0;   // monotonic seconds
    double m_Cap = 0.0;        // sound: the clock goes no further until the next callback
    bool m_Anchored = false;   // pictures only: false until the first picture asked for
    double m_SoundEnd = 0.0;   // end of the last chunk played, clip seconds
    double m_FirstPicture = 0.0;   // the first picture queued since the restart
    bool m_HasFirstPicture = false;
    double m_StartPicture = 0.0;   // the picture that anchored the clock since the restart
    bool m_SoundStarted = false;   // a chunk played since the restart
    double m_Interval = 0.04;
    double m_Buffer = 0.0;
    double m_Delay = 0.0;
    bool m_Soundless = false;
    bool m_Paused = false;
    int m_Generation = 0;
    // The callback being filled: whether a chunk played, where the last one ends (clip seconds)
    // and how far into the buffer (seconds).
    bool m_CallbackPlayed = false;
    double m_CallbackEnd = 0.0;
    double m_CallbackFilled = 0.0;
    // Callbacks in a row that found nothing to play.
    int m_SilentCallbacks = 0;
    // The value came from a played callback, which the next one may carry on from.
    bool m_Following = false;
};
