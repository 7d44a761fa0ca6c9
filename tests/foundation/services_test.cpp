#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/SSEPoint.h"
#include "orvik/foundation/ThreadPool.h"

namespace {

TEST(Exception, NamesFileLineAndFunction) {
  const CbException e("ssematrix", 8097, "CSSEMatrix::FillAreaExact");
  for (const char* part : {"ssematrix", "8097", "CSSEMatrix::FillAreaExact"})
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << part;
  EXPECT_EQ(static_cast<const IException&>(e).GetLine(), 8097);
  EXPECT_THROW(throw CbExceptionContainer("c", 1, "f"), IException);
}

struct Counted : IReferenceCounted {
  explicit Counted(int* deaths) : deaths(deaths) {}
  ~Counted() override { ++*deaths; }
  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return counter; }
  mutable CbReferenceCounter<unsigned int> counter;
  int* deaths;
};

TEST(ReferenceCounting, LastReleaseDestroysAndClearsWeakReferences) {
  int deaths = 0, deleted = 0;
  void* weak = nullptr;
  {
    CbSmartPointer<Counted> a(new Counted(&deaths));
    weak = a.Get();
    a->getReferenceCounter().AddWeakReference(&weak);
    {
      CbSmartPointer<Counted> b = a;
      EXPECT_EQ(a->getReferenceCounter().GetCount(), 2u);
    }
    EXPECT_EQ(std::pair(deaths, weak), std::pair(0, static_cast<void*>(a.Get())));
  }
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(weak, nullptr);
  auto* raw = new Counted(&deaths);  // a deleter replaces the destructor call
  raw->getReferenceCounter().SetDeleter([&](IReferenceCounted* p) {
    ++deleted;
    delete static_cast<Counted*>(p);
  });
  { CbSmartPointer<Counted> c(raw); }
  EXPECT_EQ(std::pair(deleted, deaths), std::pair(1, 2));
}

struct AddTask : CbTask {
  AddTask(std::atomic<int>* sum, int v) : sum(sum), v(v) {}
  void Execute() override {
    if (v == 7) throw CbException("test", 1, "AddTask::Execute");
    *sum += v;
  }
  void onException(const IException* e) override { sawException = e != nullptr; }
  std::atomic<int>* sum;
  int v;
  bool sawException = false;
};

TEST(ThreadPool, RunsEveryTaskAndReportsFailures) {
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  EXPECT_EQ(&pool, &CbSingleton<CbThreadPool>::GetInstance());
  std::atomic<int> sum{0};
  std::vector<CbSmartPointer<AddTask>> tasks;
  for (int i = 1; i <= 50; ++i) {
    tasks.emplace_back(new AddTask(&sum, i));
    EXPECT_TRUE(pool.AddTask(tasks.back(), 1));
  }
  for (auto& t : tasks) EXPECT_TRUE(t->WaitUntilTerminate(0xFFFFFFFF));
  EXPECT_EQ(sum.load(), 50 * 51 / 2 - 7);
  for (const auto& t : tasks)
    EXPECT_EQ(std::pair(t->HasFailed(), t->sawException), std::pair(t->v == 7, t->v == 7));
  EXPECT_FALSE(pool.AddTask(CbSmartPointer<CbTask>(), 1));
}

TEST(Allocation, AlignedAndFailingLoudlyAndTheCountOfProcessors) {
  const int real = CbCPU::GetCount();
  CbCPU::SetCount(3);
  EXPECT_EQ(CbCPU::GetCount(), 3);
  CbCPU::SetCount(0);
  EXPECT_EQ(CbCPU::GetCount(), real);
  void* p = SafeAlignedAlloc(100, 16);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
  SafeAlignedFree(p);
  // A freed large block serves the next request it holds with no more than an eighth to spare.
  constexpr std::size_t c_large = 777777;
  void* large = SafeAlignedAlloc(c_large, 16);
  SafeAlignedFree(large);
  void* small = SafeAlignedAlloc(c_large / 2, 16);
  void* bigger = SafeAlignedAlloc(c_large + 4096 * 64, 16);
  void* again = SafeAlignedAlloc(c_large - 1000, 16);
  EXPECT_EQ((std::vector<bool>{small == large, bigger == large, again == large}),
            (std::vector<bool>{false, false, true}));
  for (void* b : {small, bigger, again}) SafeAlignedFree(b);
  auto* z = static_cast<unsigned char*>(SafeCalloc(64, 4));
  EXPECT_EQ(std::vector<unsigned char>(z, z + 256), std::vector<unsigned char>(256));
  SafeFree(z);
  EXPECT_THROW(SafeCalloc(SIZE_MAX / 2, 4), CMemoryException);
  EXPECT_THROW(SafeMalloc(SIZE_MAX - 64), std::bad_alloc);
}

TEST(SSEFns, LaneSumOrderAndVectorHelpers) {
  // Lanes are summed as (p0 + p3) + (p2 + p1). Near 1e8 a float cannot hold +1,
  // so the pairing decides the result: left to right both give 1 or 2, ours 0.
  EXPECT_EQ(CSSEFns::internal_addition_of_m128(SSEPoint(1e8f, 1.0f, -1e8f, 1.0f)), 0.0f);
  EXPECT_EQ(CSSEFns::scalarproduct(SSEPoint(1e8f, -1e8f, 1.0f, 1.0f), SSEPoint(1, 1, 1, 1)), 0.0f);
  const auto lanes = [](const SSEPoint& p) { return std::vector<float>{p.x, p.y, p.z, p.w}; };
  EXPECT_EQ(lanes(CSSEFns::vectorproduct(SSEPoint(1, 2, 3), SSEPoint(4, 5, 7))),
            (std::vector<float>{-1, 5, -3, 0}));
  EXPECT_EQ(CSSEFns::volume(SSEPoint(1, 0, 0), SSEPoint(0, 1, 0), SSEPoint(0, 0, 1)), 1.0f);
  EXPECT_EQ(CSSEFns::vectorlen(SSEPoint(3, 4, 0)), 5.0f);
  EXPECT_EQ(CSSEFns::euclideansqr(SSEPoint(1, 1, 1), SSEPoint(2, 3, 4)), 14.0f);
  EXPECT_EQ(CSSEFns::normalizevector(SSEPoint(0, 0, 2)).z, 1.0f);
  EXPECT_TRUE(std::isnan(CSSEFns::normalizevector(SSEPoint()).x));
  for (int k = 0; k < 4; ++k) {  // every lane can hold the extreme
    alignas(16) float v[4] = {1, 1, 1, 1};
    float hi = 0, lo = 0;
    v[k] = 7.0f;
    CSSEFns::max_of_m128(_mm_load_ps(v), &hi);
    v[k] = -2.0f;
    CSSEFns::min_of_m128(_mm_load_ps(v), &lo);
    EXPECT_EQ((std::vector<float>{hi, lo}), (std::vector<float>{7, -2})) << k;
  }
  t_ssematrix3 m;
  m.row[0] = SSEPoint(0, 1, 0);
  m.row[1] = SSEPoint(1, 0, 0);
  m.row[2] = SSEPoint(0, 0, 2);
  EXPECT_EQ(lanes(CSSEFns::transform(SSEPoint(5, 6, 7, 9), m)), (std::vector<float>{6, 5, 14, 0}));
}

}  // namespace
