#include "jobthread.h"

JobThread::JobThread(QObject *parent) : QThread(parent) {}

JobThread::~JobThread()
{
    JobThread::stop();
}

void JobThread::setSleeps(int afterWorkMs, int idleWaitMs, int afterIdleMs, int pausedMs)
{
    m_AfterWorkMs.store(afterWorkMs);
    m_IdleWaitMs.store(idleWaitMs);
    m_AfterIdleMs.store(afterIdleMs);
    m_PausedMs.store(pausedMs);
}

bool JobThread::start()
{
    if (m_Stopped.load()) {
        // A worker that stopped itself may still be finishing its last pass; QThread::start() on a
        // thread that has not ended yet does nothing, which would leave no worker at all.
        if (QThread::isRunning())
            QThread::wait();
        m_Stopped.store(false);
        QThread::start(QThread::InheritPriority);
        return true;
    }
    m_Paused.store(false);
    return false;
}

void JobThread::stop()
{
    m_Stopped.store(true);
    // A resting worker (up to a paused pass's 100 ms) ends its rest at once.
    wake();
    QThread::wait();
}

void JobThread::pause()
{
    m_Paused.store(true);
}

bool JobThread::isRunning() const
{
    return QThread::isRunning();
}

bool JobThread::isPaused() const
{
    return m_Paused.load();
}

bool JobThread::isStopped() const
{
    return m_Stopped.load();
}

void JobThread::sleepFor(int ms)
{
    if (ms <= 0)
        return;
    QMutexLocker lock(&m_Mutex);
    if (!m_Woken)
        m_Idle.wait(&m_Mutex, static_cast<unsigned long>(ms));
    m_Woken = false;
}

void JobThread::wake()
{
    QMutexLocker lock(&m_Mutex);
    m_Woken = true;
    m_Idle.wakeAll();
}

void JobThread::run()
{
    while (!m_Stopped.load()) {
        if (m_Paused.load()) {
            sleepFor(m_PausedMs.load());
            continue;
        }
        if (step()) {
            const int ms = m_AfterWorkMs.load();
            if (ms > 0 && restAfterWork())
                sleepFor(ms);
        } else {
            sleepFor(m_IdleWaitMs.load());
            sleepFor(m_AfterIdleMs.load());
        }
    }
}
