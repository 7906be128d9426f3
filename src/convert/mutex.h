#ifndef PLINKARD_CONVERT_MUTEX_H_
#define PLINKARD_CONVERT_MUTEX_H_

#include <condition_variable>
#include <mutex>

// A mutex and a condition variable whose use clang checks (-Wthread-safety):
// a field marked GUARDED_BY(mutex_) is touched only with mutex_ held, and a
// function marked REQUIRES(mutex_) is called only so. Other compilers read
// the marks as nothing.
#if defined(__clang__)
#define PLINKARD_THREADS(x) __attribute__((x))
#else
#define PLINKARD_THREADS(x)
#endif
#define CAPABILITY(x) PLINKARD_THREADS(capability(x))
#define GUARDED_BY(x) PLINKARD_THREADS(guarded_by(x))
#define REQUIRES(...) PLINKARD_THREADS(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) PLINKARD_THREADS(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) PLINKARD_THREADS(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PLINKARD_THREADS(release_capability(__VA_ARGS__))

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

class CondVar {
 public:
  // Releases `mutex` while it waits; holds it again on return. One mutex
  // for each condition variable.
  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    condition_.wait(lock);
    lock.release();
  }
  void signalAll() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};

#endif  // PLINKARD_CONVERT_MUTEX_H_
