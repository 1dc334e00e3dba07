#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// The one mutex of the program, annotated so that Clang's -Wthread-safety
// checks the lock rules every header states: a field marked GUARDED_BY(m)
// cannot be read or written without m held, a function marked REQUIRES(m)
// cannot be called without it, and one marked EXCLUDES(m) cannot be called
// with it. GCC ignores the annotations; the clang-threads preset turns them
// into errors.
//
// Re-entrant locking is not offered: a lock that a callback may take again
// is a lock held across a call into other code, which is what the program
// avoids (no disk write or network call happens under a lock the window can
// take).

#if defined(__clang__)
#define DH_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DH_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) DH_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY DH_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) DH_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) DH_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_AFTER(...) DH_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) DH_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) DH_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) DH_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) DH_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) DH_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) DH_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) DH_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS DH_THREAD_ANNOTATION(no_thread_safety_analysis)

// A std::mutex the analysis knows. Not copyable, not movable.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex.lock(); }
  void Unlock() RELEASE() { mutex.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex.try_lock(); }
  // Tells the analysis that the caller holds this lock where it cannot see
  // it (a callback the holder makes). Checks nothing at run time.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  friend class CondVar;
  std::mutex mutex;
};

// A std::recursive_mutex the analysis knows, for the few locks that a
// thread may take again through a callback it makes while holding them. The
// analysis does not follow re-entry; say in the owner's header where it
// happens.
class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void Lock() ACQUIRE() { mutex.lock(); }
  void Unlock() RELEASE() { mutex.unlock(); }
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  std::recursive_mutex mutex;
};

// Holds a Mutex for its scope.
template <class Lockable>
class SCOPED_CAPABILITY BasicMutexLock {
 public:
  explicit BasicMutexLock(Lockable& mutex) ACQUIRE(mutex) : held(mutex) { held.Lock(); }
  ~BasicMutexLock() RELEASE() { held.Unlock(); }
  BasicMutexLock(const BasicMutexLock&) = delete;
  BasicMutexLock& operator=(const BasicMutexLock&) = delete;

 private:
  Lockable& held;
};
using MutexLock = BasicMutexLock<Mutex>;
using RecursiveMutexLock = BasicMutexLock<RecursiveMutex>;

// A condition variable over a Mutex the caller holds. Waits return with the
// mutex held again; callers test their condition in a loop around them, so
// that the analysis sees every guarded read under the lock.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex, std::adopt_lock);
    variable.wait(lock);
    lock.release();
  }
  // False once the deadline has passed.
  template <class Clock, class Duration>
  bool WaitUntil(Mutex& mutex, const std::chrono::time_point<Clock, Duration>& deadline)
      REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex, std::adopt_lock);
    const bool woken = variable.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  template <class Rep, class Period>
  bool WaitFor(Mutex& mutex, const std::chrono::duration<Rep, Period>& timeout) REQUIRES(mutex) {
    return WaitUntil(mutex, std::chrono::steady_clock::now() + timeout);
  }
  void NotifyOne() { variable.notify_one(); }
  void NotifyAll() { variable.notify_all(); }

 private:
  std::condition_variable variable;
};
