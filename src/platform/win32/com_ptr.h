#pragma once
// Owners of COM resources: interface pointers, BSTRs and VARIANTs.
#include <windows.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace trelvex::win32 {

// Holds one reference to an interface and releases it.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller owns.
  explicit ComPtr(T* p) : p_(p) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // A new reference to `p`.
  static ComPtr AddRefTo(T* p) {
    if (p != nullptr) p->AddRef();
    return ComPtr(p);
  }

  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  // For an out argument: the old reference is released first.
  T** Out() {
    Reset();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }

  BSTR get() const { return b_; }
  BSTR* Out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::wstring_view view() const { return {b_ == nullptr ? L"" : b_, SysStringLen(b_)}; }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT cleared when it goes out of scope.
class VariantOwner {
 public:
  VariantOwner() { VariantInit(&v_); }
  VariantOwner(const VariantOwner&) = delete;
  VariantOwner& operator=(const VariantOwner&) = delete;
  ~VariantOwner() { VariantClear(&v_); }

  VARIANT& get() { return v_; }
  const VARIANT& get() const { return v_; }
  VARIANT* Out() {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace trelvex::win32
