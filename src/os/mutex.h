#ifndef PLINKARD_OS_MUTEX_H_
#define PLINKARD_OS_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "os/thread_annotations.h"

namespace os {

class CondVar;

// A mutex the thread-safety analysis knows: the standard library's carries
// no attributes, so fields guarded by one could not be checked.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() EXCLUSIVE_LOCK_FUNCTION() { mutex_.lock(); }
  void unlock() UNLOCK_FUNCTION() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from its construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) EXCLUSIVE_LOCK_FUNCTION(mutex)
      : mutex_(mutex) {
    mutex_.lock();
  }
  ~MutexLock() UNLOCK_FUNCTION() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// A condition to wait for under a Mutex. A wait gives the mutex up while
// it sleeps and holds it again when it returns, as the caller had it.
class CondVar {
 public:
  void wait(Mutex& mutex) EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    ready_.wait(lock);
    lock.release();
  }
  // Also returns after `timeout`, signalled or not.
  void waitFor(Mutex& mutex, std::chrono::milliseconds timeout)
      EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    ready_.wait_for(lock, timeout);
    lock.release();
  }
  void signal() { ready_.notify_one(); }
  void signalAll() { ready_.notify_all(); }

 private:
  std::condition_variable ready_;
};

}  // namespace os

#endif  // PLINKARD_OS_MUTEX_H_
