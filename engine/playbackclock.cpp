#include "playbackclock.h"

#include <algorithm>
#include <chrono>

namespace {
double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

PlaybackClock::PlaybackClock(Now now)
    : m_Now(now ? std::move(now) : Now(&steadySeconds))
{
}

double PlaybackClock::nowLocked() const
{
    return m_Now();
}

double PlaybackClock::valueLocked(double now) const
{
    if (m_Driver == Driver::Pictures && m_Anchored && !m_Paused)
        return m_Value + (now - m_AnchorAt);
    return m_Value;
}

void PlaybackClock::checkSilenceLocked(double now) const
{
    if (m_Driver != Driver::Sound || m_Paused || now - m_SoundAt <= soundSilentAfter)
        return;
    // The sound stopped coming (ended, a hole, reading behind): the pictures go on from where the
    // sound was, at the pace it would have had.
    m_Driver = Driver::Pictures;
    m_Anchored = true;
    m_AnchorAt = m_SoundAt;
}

void PlaybackClock::anchorLocked(double time, double now) const
{
    m_Anchored = true;
    m_Value = time;
    m_AnchorAt = now;
}

void PlaybackClock::setPictureInterval(double seconds)
{
    QMutexLocker lock(&m_Mutex);
    if (seconds > 0.0 && seconds < 10.0)
        m_Interval = seconds;
}

void PlaybackClock::setSoundless(bool soundless)
{
    QMutexLocker lock(&m_Mutex);
    m_Soundless = soundless;
    if (soundless && m_Driver == Driver::Sound) {
        m_Driver = Driver::Pictures;
        anchorLocked(m_Value, nowLocked());
    }
}

void PlaybackClock::reset()
{
    QMutexLocker lock(&m_Mutex);
    m_Driver = Driver::Pictures;
    m_Value = 0.0;
    m_Anchored = false;
    m_HasFirstPicture = false;
    m_Soundless = false;
    m_Paused = true;
    m_Interval = 0.04;
    ++m_Generation;
}

void PlaybackClock::restart()
{
    QMutexLocker lock(&m_Mutex);
    m_Value = valueLocked(nowLocked());
    m_Driver = Driver::Pictures;
    m_Anchored = false;
    m_HasFirstPicture = false;
    ++m_Generation;
}

int PlaybackClock::generation() const
{
    QMutexLocker lock(&m_Mutex);
    return m_Generation;
}

void PlaybackClock::pause()
{
    QMutexLocker lock(&m_Mutex);
    if (m_Paused)
        return;
    const double now = nowLocked();
    checkSilenceLocked(now);
    m_Value = valueLocked(now);
    m_AnchorAt = now;
    m_Paused = true;
}

void PlaybackClock::resume()
{
    QMutexLocker lock(&m_Mutex);
    if (!m_Paused)
        return;
    m_Paused = false;
    // The pause is neither time played nor a silence of the sound.
    m_AnchorAt = nowLocked();
    m_SoundAt = m_AnchorAt;
}

bool PlaybackClock::isPaused() const
{
    QMutexLocker lock(&m_Mutex);
    return m_Paused;
}

double PlaybackClock::load() const
{
    QMutexLocker lock(&m_Mutex);
    const double now = nowLocked();
    checkSilenceLocked(now);
    return valueLocked(now);
}

void PlaybackClock::store(double seconds)
{
    QMutexLocker lock(&m_Mutex);
    const double now = nowLocked();
    m_Value = seconds;
    m_AnchorAt = now;
    m_SoundAt = now;
}

PlaybackClock::Driver PlaybackClock::driver() const
{
    QMutexLocker lock(&m_Mutex);
    checkSilenceLocked(nowLocked());
    return m_Driver;
}

void PlaybackClock::pictureQueued(double time)
{
    QMutexLocker lock(&m_Mutex);
    if (!m_HasFirstPicture) {
        m_FirstPicture = time;
        m_HasFirstPicture = true;
    }
}

PlaybackClock::SoundAction PlaybackClock::sound(double time, double duration, int generation)
{
    QMutexLocker lock(&m_Mutex);
    if (generation != m_Generation)
        return SoundAction::Skip;
    if (m_Soundless)
        return SoundAction::Play;
    const double now = nowLocked();
    checkSilenceLocked(now);
    if (m_Driver == Driver::Sound && time > m_SoundEnd + holeAfter) {
        // A hole in the sound: the pictures carry the clock across it.
        m_Driver = Driver::Pictures;
        m_Anchored = true;
        m_AnchorAt = m_SoundAt;
    }
    if (m_Driver == Driver::Pictures) {
        if (!m_Anchored) {
            // Nothing shown yet: sound that starts with or before the pictures starts the clock;
            // sound that starts later waits for the pictures to get there.
            if (m_HasFirstPicture && time > m_FirstPicture + m_Interval / 2)
                return SoundAction::Wait;
        } else {
            const double clock = valueLocked(now);
            if (time < clock - m_Interval)
                return SoundAction::Skip;
            if (time > clock + m_Interval / 2 || m_Paused)
                return SoundAction::Wait;
        }
        m_Driver = Driver::Sound;
    }
    m_Value = time;
    m_SoundAt = now;
    m_SoundEnd = time + std::max(0.0, duration);
    return SoundAction::Play;
}

PictureAction PlaybackClock::picture(double time, int64_t durationUs)
{
    QMutexLocker lock(&m_Mutex);
    const double now = nowLocked();
    checkSilenceLocked(now);
    if (m_Driver == Driver::Sound)
        return SchedulerDecision::decide(SchedulerDecision::clockDifferenceMs(time, m_Value), m_Value, durationUs,
                                         false);
    if (!m_Anchored) {
        anchorLocked(time, now);
        return PictureAction::Show;
    }
    const double ahead = time - valueLocked(now);
    // A second or more ahead (a jump in the stamps) is shown at once, as with sound. A picture
    // late as the sound's rule counts it is dropped, so a display that falls behind still shows
    // the clip at its pace; one pullBackAfter late means the pictures do not come in time
    // (decoding or reading behind): the clock goes back to them rather than run away.
    if (ahead >= (SchedulerDecision::holdToMs + 1) / 1000.0 || ahead < -pullBackAfter) {
        anchorLocked(time, now);
        return PictureAction::Show;
    }
    if (ahead < SchedulerDecision::lateThresholdMs / 1000.0)
        return PictureAction::Drop;
    return ahead > m_Interval / 2 ? PictureAction::Hold : PictureAction::Show;
}
