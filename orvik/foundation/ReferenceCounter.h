#pragma once
// Intrusive reference counting: objects shared with a host embed a counter and
// are handed around through CbSmartPointer.
#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

class IReferenceCounted;

template <typename T>
class CbReferenceCounter {
public:
  using Deleter = std::function<void(IReferenceCounted*)>;

  CbReferenceCounter() = default;
  // A counter belongs to its object: copying an object never copies its holders.
  CbReferenceCounter(const CbReferenceCounter&) {}
  CbReferenceCounter& operator=(const CbReferenceCounter&) { return *this; }

  T AddRef() noexcept { return ++m_count; }
  T Release() noexcept { return --m_count; }
  T GetCount() const noexcept { return m_count.load(); }

  // A weak reference is a pointer slot that is set to null when the object dies.
  void AddWeakReference(void** slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_weak.push_back(slot);
  }
  void RemoveWeakReference(void** slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase(m_weak, slot);
  }
  void ClearWeakReferences() {
    for (void** slot : m_weak) *slot = nullptr;
    m_weak.clear();
  }
  std::size_t GetWeakReferenceCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_weak.size();
  }

  void SetDeleter(Deleter d) { m_deleter = std::move(d); }
  const Deleter& GetDeleter() const noexcept { return m_deleter; }

  std::mutex& GetCriticalSection() const noexcept { return m_mutex; }

private:
  std::atomic<T> m_count{0};
  mutable std::mutex m_mutex;
  std::vector<void**> m_weak;
  Deleter m_deleter;
};

template <typename T>
std::mutex& ReferenceCounter_GetCriticalSection(const CbReferenceCounter<T>& counter) noexcept {
  return counter.GetCriticalSection();
}

class IReferenceCounted {
public:
  virtual ~IReferenceCounted() = default;
  virtual CbReferenceCounter<unsigned int>& getReferenceCounter() const = 0;
};

// Shares an IReferenceCounted object. The release that brings the count to zero
// clears the weak references under the counter's critical section and then
// destroys the object through the counter's deleter, or its virtual destructor.
template <typename T>
class CbSmartPointer {
public:
  CbSmartPointer() noexcept = default;
  CbSmartPointer(T* p) noexcept : m_p(p) { acquire(); }  // NOLINT: implicit like a raw pointer
  CbSmartPointer(const CbSmartPointer& o) noexcept : m_p(o.m_p) { acquire(); }
  CbSmartPointer(CbSmartPointer&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  template <typename U>
  CbSmartPointer(const CbSmartPointer<U>& o) noexcept : m_p(o.Get()) { acquire(); }
  ~CbSmartPointer() { release(); }

  CbSmartPointer& operator=(CbSmartPointer o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }

  T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }
  void Reset() noexcept {
    release();
    m_p = nullptr;
  }

private:
  void acquire() noexcept {
    if (m_p) m_p->getReferenceCounter().AddRef();
  }
  void release() noexcept {
    if (!m_p) return;
    auto& counter = m_p->getReferenceCounter();
    if (counter.Release() != 0) return;
    {
      std::lock_guard<std::mutex> lock(ReferenceCounter_GetCriticalSection(counter));
      counter.ClearWeakReferences();
    }
    IReferenceCounted* object = m_p;
    if (counter.GetDeleter()) {
      auto deleter = counter.GetDeleter();
      deleter(object);
    } else {
      delete object;
    }
  }

  T* m_p = nullptr;
};
