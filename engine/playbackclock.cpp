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

double PlaybackClock::valueLocked(double now) const
{
    if (m_Paused)
        return m_Value;
    if (m_Driver == Driver::Sound)
        return std::min(m_Value + std::max(0.0, now - m_AnchorAt), m_Cap);
    return m_Anchored ? m_Value + (now - m_AnchorAt) : m_Value;
}

void PlaybackClock::anchorLocked(double time, double now)
{
    m_Anchored = true;
    m_Value = time;
    m_AnchorAt = now;
}

void PlaybackClock::picturesTakeOverLocked(double now)
{
    anchorLocked(valueLocked(now), now);
    m_Driver = Driver::Pictures;
    m_Following = false;
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
    if (soundless && m_Driver == Driver::Sound)
        picturesTakeOverLocked(m_Now());
}

void PlaybackClock::setDevice(double bufferSeconds, double delaySeconds)
{
    QMutexLocker lock(&m_Mutex);
    m_Buffer = std::max(0.0, bufferSeconds);
    m_Delay = std::max(0.0, delaySeconds);
}

void PlaybackClock::reset()
{
    QMutexLocker lock(&m_Mutex);
    m_Driver = Driver::Pictures;
    m_Value = m_Cap = m_SoundEnd = 0.0;
    m_Anchored = false;
    m_HasFirstPicture = false;
    m_SoundStarted = false;
    m_Soundless = false;
    m_Paused = true;
    m_Interval = 0.04;
    m_Buffer = m_Delay = 0.0;
    m_CallbackPlayed = false;
    m_Following = false;
    m_SilentCallbacks = 0;
    ++m_Generation;
}

void PlaybackClock::restart()
{
    QMutexLocker lock(&m_Mutex);
    m_Value = valueLocked(m_Now());
    m_Driver = Driver::Pictures;
    m_Anchored = false;
    m_HasFirstPicture = false;
    m_SoundStarted = false;
    m_CallbackPlayed = false;
    m_Following = false;
    m_SilentCallbacks = 0;
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
    const double now = m_Now();
    m_Value = valueLocked(now);
    m_AnchorAt = now;
    m_Paused = true;
    // The device starts afresh after the pause.
    m_Following = false;
}

void PlaybackClock::resume()
{
    QMutexLocker lock(&m_Mutex);
    if (!m_Paused)
        return;
    m_Paused = false;
    // The pause is not time played.
    m_AnchorAt = m_Now();
}

bool PlaybackClock::isPaused() const
{
    QMutexLocker lock(&m_Mutex);
    return m_Paused;
}

double PlaybackClock::load() const
{
    QMutexLocker lock(&m_Mutex);
    return valueLocked(m_Now());
}

void PlaybackClock::store(double seconds)
{
    QMutexLocker lock(&m_Mutex);
    m_Following = false;
    m_Value = m_Cap = seconds;
    m_AnchorAt = m_Now();
}

PlaybackClock::Driver PlaybackClock::driver() const
{
    QMutexLocker lock(&m_Mutex);
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

PlaybackClock::SoundAction PlaybackClock::sound(double time, double duration, int generation, double offset)
{
    QMutexLocker lock(&m_Mutex);
    if (generation != m_Generation)
        return SoundAction::Skip;
    if (m_Soundless)
        return SoundAction::Play;
    const double now = m_Now();
    // A hole in the sound: the pictures carry the clock across it.
    if (m_Driver == Driver::Sound && time > m_SoundEnd + holeAfter)
        picturesTakeOverLocked(now);
    if (m_Driver == Driver::Pictures) {
        // The chunk is heard this long from now: after what the device holds ahead of this buffer
        // and the part of the buffer before the chunk.
        const double lead = std::max(0.0, m_Delay - m_Buffer + offset);
        if (!m_Anchored) {
            // Nothing shown yet: sound that starts with or before the pictures starts the clock;
            // sound that starts later waits for the pictures to get there.
            if (m_HasFirstPicture && time > m_FirstPicture + m_Interval / 2)
                return SoundAction::Wait;
        } else {
            const double heardAt = valueLocked(now) + lead;
            // Until the sound of a new position has started, only sound before the first picture
            // shown is behind: a device slow to start (half a second through a sound server)
            // would otherwise lose the start of the clip. The pictures wait for it.
            const double behind = m_SoundStarted ? heardAt : std::min(heardAt, m_StartPicture);
            if (time < behind - m_Interval)
                return SoundAction::Skip;
            if (time > heardAt + m_Interval / 2 || m_Paused)
                return SoundAction::Wait;
        }
        m_Driver = Driver::Sound;
        m_Following = false;
        // Until the callback is done the clock waits at the moment the chunk will be heard.
        m_Value = m_Cap = time - lead;
        m_AnchorAt = now;
    }
    m_SoundStarted = true;
    m_CallbackPlayed = true;
    m_CallbackEnd = time + std::max(0.0, duration);
    m_CallbackFilled = offset + std::max(0.0, duration);
    m_SoundEnd = m_CallbackEnd;
    return SoundAction::Play;
}

void PlaybackClock::callbackDone()
{
    QMutexLocker lock(&m_Mutex);
    const bool played = m_CallbackPlayed;
    m_CallbackPlayed = false;
    if (m_Soundless || m_Driver != Driver::Sound) {
        m_SilentCallbacks = played ? 0 : m_SilentCallbacks + 1;
        return;
    }
    const double now = m_Now();
    if (played) {
        m_SilentCallbacks = 0;
        // The buffer's end is heard m_Delay from now; its sound ends the silence after it earlier.
        // At least this buffer is still to be heard.
        const double silence = std::max(0.0, m_Buffer - m_CallbackFilled);
        const double latest = m_CallbackEnd - std::min(m_Delay, m_Buffer) + silence;
        double heard = std::min(m_CallbackEnd - m_Delay + silence, m_CallbackEnd);
        if (m_Following) {
            // A callback comes when the device has room for a buffer, or later when its thread
            // was held up, never earlier: the value that the earliest recent callback gives, run
            // on with time, is the best. It yields slowly (followYield of the time run), so that
            // the clock follows a device that really slowed down; a buffer or more below it means
            // the sound was interrupted, and the new value holds.
            const double carried = m_Value + (now - m_AnchorAt) * (1.0 - followYield);
            if (carried > heard && carried - heard < m_Buffer)
                heard = std::min(carried, latest);
        }
        m_Value = heard;
        m_AnchorAt = now;
        m_Cap = std::max(m_Value, std::min(m_CallbackEnd, m_Value + m_Buffer));
        m_Following = !m_Paused;
        return;
    }
    // Nothing came: what was handed over still plays out, and once the silence has reached the
    // ear the pictures go on from where the sound ended.
    ++m_SilentCallbacks;
    m_Cap = std::max(m_Cap, m_SoundEnd);
    if (!m_Paused && m_SilentCallbacks * m_Buffer >= m_Delay)
        picturesTakeOverLocked(now);
}

PictureAction PlaybackClock::picture(double time, int64_t durationUs)
{
    QMutexLocker lock(&m_Mutex);
    const double now = m_Now();
    if (m_Driver == Driver::Sound) {
        const double clock = valueLocked(now);
        return SchedulerDecision::decide(SchedulerDecision::clockDifferenceMs(time, clock), clock, durationUs, false);
    }
    if (!m_Anchored) {
        anchorLocked(time, now);
        m_StartPicture = time;
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
