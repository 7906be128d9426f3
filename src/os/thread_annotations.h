#ifndef PLINKARD_OS_THREAD_ANNOTATIONS_H_
#define PLINKARD_OS_THREAD_ANNOTATIONS_H_

// Attributes that let Clang's -Wthread-safety check, at compile time, that
// a field is touched only with its mutex held and that a function is called
// with the locks it needs. Other compilers see nothing.

#if defined(__clang__)
#define PLINKARD_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define PLINKARD_THREAD_ATTRIBUTE(x)
#endif

// A type that is a lock.
#define CAPABILITY(name) PLINKARD_THREAD_ATTRIBUTE(capability(name))
// A type whose objects hold a lock for as long as they live.
#define SCOPED_CAPABILITY PLINKARD_THREAD_ATTRIBUTE(scoped_lockable)
// A field read or written only with the lock held.
#define GUARDED_BY(lock) PLINKARD_THREAD_ATTRIBUTE(guarded_by(lock))
// A function called only with the locks held (and that returns with them).
#define EXCLUSIVE_LOCKS_REQUIRED(...) \
  PLINKARD_THREAD_ATTRIBUTE(exclusive_locks_required(__VA_ARGS__))
// A function called only without the locks: it takes them, or it makes
// requests that must not hold up the others.
#define LOCKS_EXCLUDED(...) \
  PLINKARD_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
// A function that takes the lock and returns with it held.
#define EXCLUSIVE_LOCK_FUNCTION(...) \
  PLINKARD_THREAD_ATTRIBUTE(exclusive_lock_function(__VA_ARGS__))
// A function that gives back a lock held when it was called.
#define UNLOCK_FUNCTION(...) \
  PLINKARD_THREAD_ATTRIBUTE(unlock_function(__VA_ARGS__))

#endif  // PLINKARD_OS_THREAD_ANNOTATIONS_H_
