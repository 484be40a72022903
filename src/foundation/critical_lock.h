// CriticalLock: the one mutual-exclusion primitive of the server, plus the
// scoped guard that every caller uses. Annotated so that clang's
// -Wthread-safety can check which fields each lock guards.
#pragma once

#include <mutex>

#if defined(__clang__)
#define VT_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VT_THREAD_ANNOTATION(x)
#endif

#define VT_CAPABILITY(x) VT_THREAD_ANNOTATION(capability(x))
#define VT_SCOPED_CAPABILITY VT_THREAD_ANNOTATION(scoped_lockable)
#define VT_GUARDED_BY(x) VT_THREAD_ANNOTATION(guarded_by(x))
#define VT_PT_GUARDED_BY(x) VT_THREAD_ANNOTATION(pt_guarded_by(x))
#define VT_ACQUIRE(...) VT_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VT_RELEASE(...) VT_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VT_REQUIRES(...) VT_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define VT_EXCLUDES(...) VT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define VT_NO_THREAD_SAFETY_ANALYSIS VT_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vantrel {

// Recursive for the thread that holds it, so that a locked member function
// may call another one that locks again.
class VT_CAPABILITY("mutex") CriticalLock final {
public:
    CriticalLock() = default;
    CriticalLock(const CriticalLock&) = delete;
    CriticalLock& operator=(const CriticalLock&) = delete;

    void enter() VT_ACQUIRE() { mutex_.lock(); }
    void leave() VT_RELEASE() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class VT_SCOPED_CAPABILITY LockGuard final {
public:
    explicit LockGuard(CriticalLock& lock) VT_ACQUIRE(lock) : lock_(lock) { lock_.enter(); }
    ~LockGuard() VT_RELEASE() { lock_.leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CriticalLock& lock_;
};

} // namespace vantrel
