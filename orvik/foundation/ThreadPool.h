#pragma once
// The process-wide pool of worker threads and the tasks it runs. The library
// queues tasks and waits for each one before a call returns; no task outlives
// the call that queued it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/ReferenceCounter.h"

class CbCPU {
public:
  // Logical processors of this machine, or the count set by SetCount.
  static int GetCount();
  // Overrides the processor count seen by the library (0 restores the real one);
  // lets callers and tests pin the number of bands of the threaded operations.
  static void SetCount(int count);
};

class CbTask : public IReferenceCounted {
public:
  CbTask() = default;
  CbTask(const CbTask&) = delete;
  CbTask& operator=(const CbTask&) = delete;
  ~CbTask() override = default;

  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_counter; }
  virtual const char* GetRTTI() const { return "CbTask"; }
  // The work itself; the only operation a task has to provide.
  virtual void Execute() = 0;
  // True when the task must be skipped (then onCancel is called instead).
  virtual bool doNotRun() { return false; }
  virtual void onAdd() {}
  virtual void onBeforeRun() {}
  virtual void onAfterRun() {}
  virtual void onCancel() {}
  virtual void onException(const IException*) {}

  // Blocks until the task has run (or was cancelled); 0xFFFFFFFF waits without
  // limit, any other value is milliseconds. Returns false on time-out. Called
  // from a pool worker, the wait runs queued tasks meanwhile, so a task that
  // queues tasks and waits for them cannot starve the pool: with every worker
  // waiting, nobody else would run them.
  bool WaitUntilTerminate(std::uint32_t timeoutMs);
  // True when Execute ended with an exception.
  bool HasFailed() const;

private:
  friend class CbThreadPool;
  void run();
  bool finished() const;

  mutable CbReferenceCounter<unsigned int> m_counter;
  mutable std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  bool m_failed = false;
};

class CbThreadPool {
public:
  CbThreadPool();
  ~CbThreadPool();
  CbThreadPool(const CbThreadPool&) = delete;
  CbThreadPool& operator=(const CbThreadPool&) = delete;

  // Queues a task; higher priorities run first. Returns false for a null task.
  bool AddTask(CbSmartPointer<CbTask> task, int priority);
  int GetWorkerCount() const { return static_cast<int>(m_workers.size()); }

private:
  friend class CbTask;
  struct Entry {
    CbSmartPointer<CbTask> task;
    int priority;
  };
  void work();
  // Runs the first queued task on the calling thread; false when none is queued.
  bool runQueuedTask();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Entry> m_queue;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
};

template <typename T>
class CbSingleton {
public:
  static T& GetInstance() {
    static T instance;
    return instance;
  }
};

namespace orvik::detail {

// Pins the calling thread to the processors of `mask` (bit n: processor n)
// for the lifetime of the object and then restores the processors it had, so
// a pool worker that ran one call's task is not left pinned for every later
// call. A mask of 0 changes nothing.
class ScopedThreadAffinity {
public:
  explicit ScopedThreadAffinity(unsigned long long mask);
  ~ScopedThreadAffinity();
  ScopedThreadAffinity(const ScopedThreadAffinity&) = delete;
  ScopedThreadAffinity& operator=(const ScopedThreadAffinity&) = delete;

private:
  std::vector<unsigned char> m_saved;  // the previous cpu_set_t, empty when nothing was changed
};

}  // namespace orvik::detail
