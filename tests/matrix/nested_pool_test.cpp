// The threaded operations from inside pool tasks, and the pool's workers after
// a pinned call.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <cstdlib>
#include <latch>
#include <vector>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

namespace {

CSSEMatrix source(int sizeX, int sizeY, int seed) {
  return field(sizeX, sizeY, [=](int x, int y) { return ((x * 7 + y * 13 + seed) % 11) > 3 ? 1.0f : 0.0f; });
}

// The threaded work each task does: a mask filter and an erosion.
void work(int seed, CSSEMatrix& filtered, CSSEMatrix& eroded) {
  CSSEMatrix mask = filled(5, 5, 1.0f);
  eroded = source(97, 61, seed);
  eroded.MaskFilter(filtered, mask, true, true);
  eroded.Erode(2.5f, 0.0f, 1.0f, 0, 96, 0, 60, true, 0);
}

class Job : public CbTask {
public:
  explicit Job(int seed) : m_seed(seed) {}
  void Execute() override {
    work(m_seed, filtered, eroded);
  }
  CSSEMatrix filtered, eroded;

private:
  int m_seed;
};

TEST(NestedPool, ThreadedOperationsInsideAsManyTasksAsWorkersFinish) {
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  std::vector<CbSmartPointer<Job>> jobs;
  for (int k = 0; k < pool.GetWorkerCount(); ++k) jobs.emplace_back(new Job(k));
  for (auto& job : jobs) pool.AddTask(job, 1);
  for (auto& job : jobs)
    if (!job->WaitUntilTerminate(120000)) {
      ADD_FAILURE() << "nested threaded operations did not finish: the pool is deadlocked";
      std::_Exit(1);  // the stuck workers would keep the process from ending
    }
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    SCOPED_TRACE(k);
    ASSERT_FALSE(jobs[k]->HasFailed());
    // The same work on this thread, outside the pool.
    CSSEMatrix filtered, eroded;
    work(static_cast<int>(k), filtered, eroded);
    EXPECT_TRUE(sameLanes(filtered, jobs[k]->filtered));
    EXPECT_TRUE(sameLanes(eroded, jobs[k]->eroded));
  }
}

// Records the number of processors each worker may run on; the latch makes
// every worker take exactly one task.
class Probe : public CbTask {
public:
  explicit Probe(std::latch& all) : m_all(all) {}
  void Execute() override {
    m_all.arrive_and_wait();
    cpu_set_t set;
    CPU_ZERO(&set);
    pthread_getaffinity_np(pthread_self(), sizeof set, &set);
    processors = CPU_COUNT(&set);
  }
  int processors = 0;

private:
  std::latch& m_all;
};

std::vector<int> workerProcessors(CbThreadPool& pool) {
  std::latch all(pool.GetWorkerCount());
  std::vector<CbSmartPointer<Probe>> probes;
  for (int k = 0; k < pool.GetWorkerCount(); ++k) probes.emplace_back(new Probe(all));
  for (auto& p : probes) pool.AddTask(p, 1);
  std::vector<int> counts;
  for (auto& p : probes) {
    p->WaitUntilTerminate(0xFFFFFFFFu);
    counts.push_back(p->processors);
  }
  return counts;
}

TEST(NestedPool, AnAffinityMaskPinsOnlyTheCallsOwnTasks) {
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  const std::vector<int> before = workerProcessors(pool);
  CSSEMatrix m = source(200, 40, 3);
  m.Erode(1.5f, 0.0f, 1.0f, 0, 199, 0, 39, false, 1);  // processor 0 only
  EXPECT_EQ(workerProcessors(pool), before);
}

}  // namespace
