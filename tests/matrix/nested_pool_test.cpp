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

// A mask filter and an erosion, both threaded (radii below 7 erode on the calling thread). In the pool every
// worker holds a job before any starts, so that no idle worker is left to run the nested tasks.
struct Job : CbTask {
  Job(int seed, std::latch* all) : seed(seed), all(all) {}
  void Execute() override {
    if (all) all->arrive_and_wait();
    CSSEMatrix mask = filled(5, 5, 1.0f);
    eroded = source(97, 61, seed);
    eroded.MaskFilter(filtered, mask, true, true);
    eroded.Erode(7.5f, 0.0f, 1.0f, 0, 96, 0, 60, true, 0);
  }
  int seed;
  std::latch* all;
  CSSEMatrix filtered, eroded;
};

TEST(NestedPool, ThreadedOperationsInsideAsManyTasksAsWorkersFinish) {
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  std::latch all(pool.GetWorkerCount());
  std::vector<CbSmartPointer<Job>> jobs;
  for (int k = 0; k < pool.GetWorkerCount(); ++k) jobs.emplace_back(new Job(k, &all));
  for (auto& job : jobs) pool.AddTask(job, 1);
  for (auto& job : jobs)
    if (!job->WaitUntilTerminate(120000)) {
      ADD_FAILURE() << "nested threaded operations did not finish: the pool is deadlocked";
      std::_Exit(1);  // the stuck workers would keep the process from ending
    }
  for (auto& job : jobs) {
    SCOPED_TRACE(job->seed);
    ASSERT_FALSE(job->HasFailed());
    Job here(job->seed, nullptr);  // the same work on this thread, outside the pool
    here.Execute();
    EXPECT_TRUE(sameLanes(here.filtered, job->filtered));
    EXPECT_TRUE(sameLanes(here.eroded, job->eroded));
  }
}

// The number of processors each worker may run on; the latch makes every
// worker take exactly one probe.
std::vector<int> workerProcessors(CbThreadPool& pool) {
  struct Probe : CbTask {
    explicit Probe(std::latch& all) : all(all) {}
    void Execute() override {
      all.arrive_and_wait();
      cpu_set_t set;
      pthread_getaffinity_np(pthread_self(), sizeof set, &set);
      processors = CPU_COUNT(&set);
    }
    std::latch& all;
    int processors = 0;
  };
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
  m.Erode(8.0f, 0.0f, 1.0f, 0, 199, 0, 39, false, 1);  // processor 0 only; radii below 7 stay on this thread
  EXPECT_EQ(workerProcessors(pool), before);
}

}  // namespace
