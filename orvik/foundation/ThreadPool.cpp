#include "orvik/foundation/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {
std::atomic<int> g_cpuOverride{0};
}

int CbCPU::GetCount() {
  int forced = g_cpuOverride.load();
  if (forced > 0) return forced;
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

void CbCPU::SetCount(int count) { g_cpuOverride.store(count > 0 ? count : 0); }

bool CbTask::WaitUntilTerminate(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (timeoutMs == 0xFFFFFFFFu) {
    m_done.wait(lock, [this] { return m_finished; });
    return true;
  }
  return m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_finished; });
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

void CbThreadPool::work() {
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
