// Linked into the test programs of the ThreadSanitizer build only.
//
// Qt comes from the distribution, not instrumented: ThreadSanitizer sees neither its memory
// accesses nor its locks (QMutex annotates itself in its inline code, nothing else does, and
// tsan.supp has the tool ignore the C library calls Qt makes). Three kinds of hand-over between
// our threads then go unseen, and every access they order is reported as a race:
// - QRecursiveMutex (the packet queues' lock): lock and unlock happen inside Qt.
// - QWaitCondition::wait(QMutex *): Qt releases and retakes the caller's QMutex inside Qt, so the
//   tool believes the waiter holds it throughout and reports the next locker for a double lock.
// - the end of a QThread: Qt's threads are detached and QThread::wait() and isRunning() learn of
//   the end through Qt's own mutex, so nothing the worker did is ordered
//   before what the controlling thread does once it knows the worker is gone (down to the object's
//   destruction).
// This file defines those Qt functions in the executable, which takes precedence over Qt's for
// every call our code makes; each forwards to Qt's own definition and tells the tool what happened,
// through its annotation interface or through an atomic it can see. For the thread end, a Qt
// thread's start routine is wrapped: once Qt's routine has returned (the thread has announced its
// end), the wrapper raises an atomic flag kept for that QThread; QThread::wait() and isRunning(),
// when they report the end, wait for the flag (at most the few instructions between
// Qt's announcement and the wrapper) and read it with acquire order.
//
// Qt's own calls among its functions do not pass through here; only ours need to, so only the
// overloads our code calls are defined.

#include <QDeadlineTimer>
#include <QMutex>
#include <QRecursiveMutex>
#include <QThread>
#include <QWaitCondition>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// Qt's (or the next library's) definition of a symbol this file overrides.
template <typename F>
F next(const char *symbol, const char *version)
{
    void *address = version ? dlvsym(RTLD_NEXT, symbol, version) : dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "qtsyncannotations: %s not found\n", symbol);
        std::abort();
    }
    return reinterpret_cast<F>(address);
}

using EndFlag = std::shared_ptr<std::atomic<bool>>;

// The end flag of the latest start of each QThread, by object address. An entry stays after the
// end (later queries find it raised) and is replaced at the next start of a thread at that address.
std::mutex s_FlagsLock;
std::unordered_map<const void *, EndFlag> s_EndFlags;

struct Start {
    void *(*routine)(void *);
    void *argument;
    EndFlag ended;
};

bool startedByQt(void *(*routine)(void *))
{
    Dl_info info{};
    return dladdr(reinterpret_cast<void *>(routine), &info) && info.dli_fname
        && std::strstr(info.dli_fname, "libQt6Core");
}

// Called once Qt says the thread has ended: orders everything the thread did before what follows.
void acquireEnd(const QThread *thread)
{
    std::unique_lock<std::mutex> lock(s_FlagsLock);
    const auto found = s_EndFlags.find(thread);
    const EndFlag flag = found == s_EndFlags.end() ? nullptr : found->second;   // none: never started
    lock.unlock();
    while (flag && !flag->load(std::memory_order_acquire))
        sched_yield();
}

} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *),
                              void *argument)
{
    static const auto real = next<int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *)>(
        "pthread_create", nullptr);
    if (!startedByQt(routine))
        return real(thread, attributes, routine, argument);
    // QThread::start() hands its own object to the start routine.
    auto start = std::make_unique<Start>(Start{routine, argument, std::make_shared<std::atomic<bool>>(false)});
    {
        std::lock_guard<std::mutex> lock(s_FlagsLock);
        s_EndFlags[argument] = start->ended;
    }
    // The thread's routine: Qt's, then the end flag raised once Qt has announced the end.
    const int result = real(thread, attributes, [](void *opaque) -> void * {
        const std::unique_ptr<Start> start(static_cast<Start *>(opaque));
        void *result = start->routine(start->argument);
        start->ended->store(true, std::memory_order_release);
        return result;
    }, start.get());
    if (result == 0)
        start.release();   // the thread owns it now
    else
        start->ended->store(true, std::memory_order_release);
    return result;
}

bool QThread::isRunning() const
{
    static const auto real = next<bool (*)(const QThread *)>("_ZNK7QThread9isRunningEv", "Qt_6");
    const bool running = real(this);
    if (!running)
        acquireEnd(this);
    return running;
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto real = next<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer", "Qt_6");
    const bool ended = real(this, deadline);
    if (ended)
        acquireEnd(this);
    return ended;
}

bool QRecursiveMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = next<bool (*)(QRecursiveMutex *, int)>("_ZN15QRecursiveMutex7tryLockEi", "Qt_6");
    const unsigned flags = __tsan_mutex_write_reentrant | (timeout >= 0 ? __tsan_mutex_try_lock : 0);
    __tsan_mutex_pre_lock(this, flags);
    const bool locked = real(this, timeout);
    __tsan_mutex_post_lock(this, flags | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return locked;
}

void QRecursiveMutex::unlock() noexcept
{
    static const auto real = next<void (*)(QRecursiveMutex *)>("_ZN15QRecursiveMutex6unlockEv", "Qt_6");
    __tsan_mutex_pre_unlock(this, 0);
    real(this);
    __tsan_mutex_post_unlock(this, 0);
}

// Qt releases and retakes the caller's QMutex inside the wait.
bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    static const auto real = next<bool (*)(QWaitCondition *, QMutex *, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm", "Qt_6");
    __tsan_mutex_pre_unlock(lockedMutex, 0);
    __tsan_mutex_post_unlock(lockedMutex, 0);
    const bool woken = real(this, lockedMutex, time);
    __tsan_mutex_pre_lock(lockedMutex, 0);
    __tsan_mutex_post_lock(lockedMutex, 0, 0);
    return woken;
}
