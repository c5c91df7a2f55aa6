// The base of every component interface: reference counting and interface queries.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace varnolt {

extern const IID IID_IUnknown;

class IUnknown {
 public:
  // On success stores an AddRef'd pointer to the requested interface in *out.
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  // Destroys the object when the last reference goes.
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Counts live objects and server locks of this module, for DllCanUnloadNow.
class ModuleLocks {
 public:
  static void Increment();
  static void Decrement();
  static long Count();
};

// Owns one reference to an interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Attach(p);
  }
  ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { if (p_) p_->Release(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases what is held and exposes the slot.
  T** Out() {
    *this = nullptr;
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  // QueryInterface into another smart pointer; null on failure.
  template <typename U>
  ComPtr<U> As(const IID& iid) const {
    ComPtr<U> out;
    if (p_) p_->QueryInterface(iid, out.OutVoid());
    return out;
  }

 private:
  T* p_ = nullptr;
};

// Reference counting for an implementation class; QueryInterface stays the class's own.
template <typename Base>
class RefCounted : public Base {
 public:
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() { ModuleLocks::Increment(); }
  ~RefCounted() override { ModuleLocks::Decrement(); }

 private:
  std::atomic<uint32_t> refs_{1};
};

}  // namespace varnolt
