#pragma once

#include "schedulerdecision.h"

#include <cstdint>
#include <functional>
#include <QMutex>

// The one playback clock of an open clip, in seconds of the clip. It decides itself who drives it:
//
// - the sound, while it plays: every chunk the audio output hands to the device sets the clock to
//   its block's time, as it always did;
// - the pictures, paced by monotonic time, whenever the sound cannot: before the first sound,
//   after a seek (or a restart) until the sound of the new position plays, while the sound has a
//   hole or has ended (no block played for soundSilentAfter while the pictures wait), and always
//   when the clip has no sound or no device. The first picture asked for anchors the clock; it
//   then runs with monotonic time, and a picture is shown once the clock reaches it (within half a
//   picture interval) and dropped when late, so pictures play at their own times whatever the
//   display's tick.
//
// Sound decides block by block (sound()): a block at or before the clock plays and takes the
// clock over, stepping it back by at most one picture interval; a block more than that behind the
// clock is skipped (its pictures are gone); a block ahead of the clock waits, the device playing
// silence meanwhile, so sound that starts late plays at its time and a hole plays as silence. A
// block queued before the last restart (the old position of a seek) is skipped and never touches
// the clock: every block carries the generation it was decoded in.
//
// Paused (or stopped), the clock stands still and nothing changes who drives it.
//
// Threads: the audio callback (sound()), the decoder thread (pictureQueued()) and the GUI thread
// (picture(), load(), the controls) all go through m_Mutex, held only for a few arithmetic steps;
// nothing blocks under it. The time source is injected (monotonic seconds) so that the decisions
// can be checked by table.
class PlaybackClock {
public:
    using Now = std::function<double()>;

    // No block played for this long while the clock is the sound's: the pictures take it over.
    static constexpr double soundSilentAfter = 0.1;
    // A block this far past the end of the previous one is a hole, not the sound continuing.
    static constexpr double holeAfter = 0.1;
    // While the pictures drive, a picture this late pulls the clock back to it.
    static constexpr double pullBackAfter = 0.5;

    enum class Driver { Pictures, Sound };
    enum class SoundAction {
        Play,   // hand it to the device; the clock is set to its time
        Wait,   // ahead of the clock: play silence and offer it again at the next callback
        Skip,   // behind the clock or of an old position: drop it and take the next
    };

    // now: monotonic seconds; empty means the steady clock.
    explicit PlaybackClock(Now now = Now());

    // Seconds between pictures (1 / frame rate); 0.04 until set.
    void setPictureInterval(double seconds);
    // No sound will ever play (no audio stream, no decoder, no device): the pictures always drive.
    void setSoundless(bool soundless);

    // Back to time 0, pictures driving and not anchored, paused (a freshly opened clip).
    void reset();
    // A new position (seek, resume that emptied the queues): the pictures drive, unanchored, until
    // its sound plays; blocks decoded before this are skipped. The value stays until then.
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

    // Audio thread: one chunk of a block at time seconds lasting duration seconds, decoded in
    // generation.
    SoundAction sound(double time, double duration, int generation);

    // GUI thread: what to do with the oldest queued picture at time seconds. While the sound drives
    // it is the scheduler's rule (SchedulerDecision); while the pictures drive: show it once due
    // (anchoring the clock at it when unanchored, a second or more ahead, or pullBackAfter late),
    // hold it while early, drop it when late as the sound's rule counts it.
    PictureAction picture(double time, int64_t durationUs);

private:
    double nowLocked() const;
    double valueLocked(double now) const;
    // The sound went quiet while it drove the clock: hand the clock to the pictures.
    void checkSilenceLocked(double now) const;
    void anchorLocked(double time, double now) const;

    Now m_Now;
    mutable QMutex m_Mutex;
    // Everything below is guarded by m_Mutex (mutable: load() hands a silent sound's clock over).
    mutable Driver m_Driver = Driver::Pictures;
    mutable double m_Value = 0.0;      // sound: the block's time; pictures: the time at m_AnchorAt
    mutable double m_AnchorAt = 0.0;   // monotonic seconds; pictures only
    mutable bool m_Anchored = false;   // pictures only: false until the first picture asked for
    double m_SoundAt = 0.0;            // monotonic seconds of the last chunk played
    double m_SoundEnd = 0.0;           // end of the last block played, clip seconds
    double m_FirstPicture = 0.0;       // the first picture queued since the restart
    bool m_HasFirstPicture = false;
    double m_Interval = 0.04;
    bool m_Soundless = false;
    bool m_Paused = false;
    int m_Generation = 0;
};
