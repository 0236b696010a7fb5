// Intrusive reference counting for the engine's shared objects (tables, cursors, indexes,
// packet readers and writers). An object starts with one reference, owned by its creator.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace zelvo {

class RefCounted {
 public:
  RefCounted() { live_objects_.fetch_add(1, std::memory_order_relaxed); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Deletes the object when the last reference goes; returns the references left.
  std::int32_t Release() {
    std::int32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  std::int32_t RefCount() const { return refs_.load(std::memory_order_relaxed); }

  // Number of live engine objects in the process, for leak checks in tests.
  static std::int64_t LiveObjects() { return live_objects_.load(std::memory_order_relaxed); }

 protected:
  virtual ~RefCounted() { live_objects_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  std::atomic<std::int32_t> refs_{1};
  static inline std::atomic<std::int64_t> live_objects_{0};
};

// Holds one reference; Adopt takes over the creator's reference without adding one.
template <typename T>
class Ref {
 public:
  Ref() = default;
  static Ref Adopt(T* object) {
    Ref r;
    r.object_ = object;
    return r;
  }
  explicit Ref(T* object) : object_(object) {
    if (object_ != nullptr) object_->AddRef();
  }
  Ref(const Ref& other) : Ref(other.object_) {}
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref() {
    if (object_ != nullptr) object_->Release();
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace zelvo
