#include "orvik/foundation/ThreadPool.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace {
std::atomic<int> g_cpuOverride{0};
// The pool whose worker the calling thread is, if any.
thread_local CbThreadPool* t_pool = nullptr;
}

int CbCPU::GetCount() {
  int forced = g_cpuOverride.load();
  if (forced > 0) return forced;
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

void CbCPU::SetCount(int count) { g_cpuOverride.store(count > 0 ? count : 0); }

bool CbTask::finished() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_finished;
}

bool CbTask::WaitUntilTerminate(std::uint32_t timeoutMs) {
  const bool forever = timeoutMs == 0xFFFFFFFFu;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  if (t_pool) {
    // A worker helps instead of blocking. When nothing is queued the task runs
    // on another thread, which helps in turn; short waits let this one pick
    // up what that task may still queue.
    for (;;) {
      if (finished()) return true;
      if (!forever && std::chrono::steady_clock::now() >= deadline) return false;
      if (t_pool->runQueuedTask()) continue;
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_done.wait_for(lock, std::chrono::milliseconds(1), [this] { return m_finished; })) return true;
    }
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  if (forever) {
    m_done.wait(lock, [this] { return m_finished; });
    return true;
  }
  return m_done.wait_until(lock, deadline, [this] { return m_finished; });
}

bool CbTask::HasFailed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_failed;
}

void CbTask::run() {
  bool failed = false;
  if (doNotRun()) {
    onCancel();
  } else {
    try {
      onBeforeRun();
      Execute();
      onAfterRun();
    } catch (const IException& e) {
      failed = true;
      onException(&e);
    } catch (...) {
      failed = true;
      onException(nullptr);
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failed = failed;
  m_finished = true;
  m_done.notify_all();
}

CbThreadPool::CbThreadPool() {
  int n = std::max(1, CbCPU::GetCount());
  m_workers.reserve(n);
  for (int i = 0; i < n; ++i) m_workers.emplace_back([this] { work(); });
}

CbThreadPool::~CbThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  for (auto& t : m_workers) t.join();
}

bool CbThreadPool::AddTask(CbSmartPointer<CbTask> task, int priority) {
  if (!task) return false;
  task->onAdd();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Stable by priority: equal priorities keep their queuing order.
    auto pos = std::find_if(m_queue.begin(), m_queue.end(),
                            [&](const Entry& e) { return e.priority < priority; });
    m_queue.insert(pos, Entry{std::move(task), priority});
  }
  m_wake.notify_one();
  return true;
}

bool CbThreadPool::runQueuedTask() {
  CbSmartPointer<CbTask> task;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty()) return false;
    task = std::move(m_queue.front().task);
    m_queue.pop_front();
  }
  task->run();
  return true;
}

void CbThreadPool::work() {
  t_pool = this;
  for (;;) {
    CbSmartPointer<CbTask> task;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
      if (m_queue.empty()) return;
      task = std::move(m_queue.front().task);
      m_queue.pop_front();
    }
    task->run();
  }
}

namespace orvik::detail {

ScopedThreadAffinity::ScopedThreadAffinity(unsigned long long mask) {
  if (mask == 0) return;
  cpu_set_t previous;
  if (pthread_getaffinity_np(pthread_self(), sizeof previous, &previous) != 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64 && cpu < CPU_SETSIZE; ++cpu)
    if (mask >> cpu & 1u) CPU_SET(cpu, &set);
  if (pthread_setaffinity_np(pthread_self(), sizeof set, &set) != 0) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&previous);
  m_saved.assign(bytes, bytes + sizeof previous);
}

ScopedThreadAffinity::~ScopedThreadAffinity() {
  if (m_saved.empty()) return;
  cpu_set_t previous;
  std::memcpy(&previous, m_saved.data(), sizeof previous);
  pthread_setaffinity_np(pthread_self(), sizeof previous, &previous);
}

}  // namespace orvik::detail
