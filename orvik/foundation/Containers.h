#pragma once
// The foundation's containers: a growable array and a keyed map. Allocation
// failures surface as CbExceptionContainer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"

namespace orvik::detail {
// Buffers of stored data grow to many megabytes; taking their memory from the
// library's aligned allocator gives them huge pages like the matrices.
template <typename T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <typename U>
  BlockAllocator(const BlockAllocator<U>&) noexcept {}  // NOLINT: rebinding
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(SafeAlignedAlloc(n * sizeof(T), alignof(T) < 16 ? 16 : alignof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { SafeAlignedFree(p); }
  // Elements grown without a value are default-initialised, which leaves bytes
  // as they are: CbArray::SetCount asks for zeros itself, and CbArray::Extend
  // hands megabytes to a writer without clearing them first.
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
  template <typename U>
  bool operator==(const BlockAllocator<U>&) const noexcept {
    return true;
  }
};
}  // namespace orvik::detail

template <typename T>
class CbArray {
public:
  CbArray() = default;
  explicit CbArray(std::size_t count) { SetCount(count); }

  std::size_t GetCount() const noexcept { return m_v.size(); }
  bool IsEmpty() const noexcept { return m_v.empty(); }
  T* GetData() noexcept { return m_v.data(); }
  const T* GetData() const noexcept { return m_v.data(); }
  T& operator[](std::size_t i) { return m_v[i]; }
  const T& operator[](std::size_t i) const { return m_v[i]; }

  // New elements are value-initialised (zero for numbers).
  void SetCount(std::size_t count) {
    guard([&] { m_v.resize(count, T()); });
  }
  // Grows by `count` elements left unset and returns the first; the caller
  // writes every one of them before reading any.
  T* Extend(std::size_t count) {
    const std::size_t from = m_v.size();
    guard([&] { m_v.resize(from + count); });
    return m_v.data() + from;
  }
  // Room for `count` elements without a further reallocation.
  void Reserve(std::size_t count) {
    guard([&] { m_v.reserve(count); });
  }
  void Add(const T& v) {
    guard([&] { m_v.push_back(v); });
  }
  void Append(const T* data, std::size_t count) {
    guard([&] { m_v.insert(m_v.end(), data, data + count); });
  }
  void RemoveAll() noexcept { m_v.clear(); }

  auto begin() noexcept { return m_v.begin(); }
  auto end() noexcept { return m_v.end(); }
  auto begin() const noexcept { return m_v.begin(); }
  auto end() const noexcept { return m_v.end(); }

private:
  template <typename F>
  static void guard(F&& f) {
    try {
      f();
    } catch (const std::bad_alloc&) {
      throw CbExceptionContainer("Containers", __LINE__, "CbArray", "out of memory");
    } catch (const std::length_error&) {
      throw CbExceptionContainer("Containers", __LINE__, "CbArray", "too many elements");
    }
  }
  std::vector<T, orvik::detail::BlockAllocator<T>> m_v;
};

template <typename K, typename V>
class CbMap {
public:
  explicit CbMap(std::size_t buckets = 17) { m_map.reserve(buckets); }

  std::size_t GetCount() const noexcept { return m_map.size(); }
  bool IsEmpty() const noexcept { return m_map.empty(); }
  // Inserts or replaces.
  void SetAt(const K& key, const V& value) {
    try {
      m_map.insert_or_assign(key, value);
    } catch (const std::bad_alloc&) {
      throw CbExceptionContainer("Containers", __LINE__, "CbMap::SetAt", "out of memory");
    }
  }
  bool Lookup(const K& key, V& value) const {
    auto it = m_map.find(key);
    if (it == m_map.end()) return false;
    value = it->second;
    return true;
  }
  V* Find(const K& key) {
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : &it->second;
  }
  const V* Find(const K& key) const {
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : &it->second;
  }
  bool Contains(const K& key) const { return m_map.count(key) != 0; }
  bool RemoveKey(const K& key) { return m_map.erase(key) != 0; }
  void RemoveAll() noexcept { m_map.clear(); }

  auto begin() noexcept { return m_map.begin(); }
  auto end() noexcept { return m_map.end(); }
  auto begin() const noexcept { return m_map.begin(); }
  auto end() const noexcept { return m_map.end(); }

private:
  std::unordered_map<K, V> m_map;
};
