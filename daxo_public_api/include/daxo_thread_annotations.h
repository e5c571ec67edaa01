// Lock annotations checked by clang's -Wthread-safety (the "thread-safety"
// build). Every other compiler sees empty macros, so they cost nothing and
// change no code.
//
// DAXO_CAPABILITY(name)     the class is a lock (DAXOMutex, DAXOMutex2)
// DAXO_SCOPED_CAPABILITY    the class holds a lock for a scope (DAXOMutexGuard)
// DAXO_GUARDED_BY(lock)     the field is read and written only with `lock` held
// DAXO_PT_GUARDED_BY(lock)  the same for what the pointer field points to
// DAXO_REQUIRES(lock...)    the caller holds the locks
// DAXO_EXCLUDES(lock...)    the caller must not hold them (the function takes them)
// DAXO_ACQUIRE(lock...)     the function returns with the locks held
// DAXO_RELEASE(lock...)     the function returns with the locks released
// DAXO_TRY_ACQUIRE(ok, lock...)  holds the locks when it returns `ok`
// DAXO_RETURN_CAPABILITY(lock)   the function returns a reference to `lock`
// DAXO_NO_THREAD_SAFETY_ANALYSIS the function is not checked; every use says why
//
// The analysis knows nothing of recursion: a DAXOMutex2 taken again by the
// thread that holds it is fine at run time, and a function that does so is
// checked on its own. Say DAXO_EXCLUDES only of plain (non-recursive) locks.
// The SDK's lock order is in daxo_lock_order.h.
#pragma once

#if defined(__clang__)
#define DAXO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DAXO_THREAD_ANNOTATION(x)
#endif

#define DAXO_CAPABILITY(name) DAXO_THREAD_ANNOTATION(capability(name))
#define DAXO_SCOPED_CAPABILITY DAXO_THREAD_ANNOTATION(scoped_lockable)
#define DAXO_GUARDED_BY(lock) DAXO_THREAD_ANNOTATION(guarded_by(lock))
#define DAXO_PT_GUARDED_BY(lock) DAXO_THREAD_ANNOTATION(pt_guarded_by(lock))
#define DAXO_ACQUIRED_BEFORE(...) DAXO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define DAXO_ACQUIRED_AFTER(...) DAXO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define DAXO_REQUIRES(...) DAXO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define DAXO_EXCLUDES(...) DAXO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define DAXO_ACQUIRE(...) DAXO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define DAXO_RELEASE(...) DAXO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define DAXO_TRY_ACQUIRE(...) DAXO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define DAXO_ASSERT_CAPABILITY(lock) DAXO_THREAD_ANNOTATION(assert_capability(lock))
#define DAXO_RETURN_CAPABILITY(lock) DAXO_THREAD_ANNOTATION(lock_returned(lock))
#define DAXO_NO_THREAD_SAFETY_ANALYSIS DAXO_THREAD_ANNOTATION(no_thread_safety_analysis)
