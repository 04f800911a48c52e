// Owners of Windows handles: one move-only template whose traits name a kind's
// invalid value and its close call, so no handle is closed by hand on an early
// return. Closing never changes the thread's last error: a caller may close a
// handle between a failed call and the GetLastError that reads its reason.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Take());
    return *this;
  }

  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }

  // Closes what is held and takes `handle` instead.
  void Reset(Handle handle = Traits::Invalid()) {
    Close();
    handle_ = handle;
  }
  // Closes what is held; false only when the close call itself failed (the
  // thread's last error is then the close's, for the caller to report).
  bool Close() {
    if (!IsValid()) return true;
    const DWORD kept = GetLastError();
    const Handle handle = std::exchange(handle_, Traits::Invalid());
    if (Traits::Close(handle)) {
      SetLastError(kept);
      return true;
    }
    return false;
  }
  // Gives the handle up without closing it.
  Handle Take() { return std::exchange(handle_, Traits::Invalid()); }
  // For calls that hand a new handle out through a pointer: closes what is
  // held first.
  Handle* Receive() {
    Close();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

// Process, thread, file, mutex, snapshot and other kernel objects: either
// invalid value (null or INVALID_HANDLE_VALUE) holds nothing.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};
using KernelHandle = ScopedHandle<KernelHandleTraits>;

// Directory searches (FindFirstFile).
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static bool Close(Handle h) { return FindClose(h) != FALSE; }
};
using FindHandle = ScopedHandle<FindHandleTraits>;

// Service Control Manager and service handles.
struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) { return CloseServiceHandle(h) != FALSE; }
};
using ServiceHandle = ScopedHandle<ServiceHandleTraits>;

// CryptoAPI provider contexts and keys.
struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle h) { return h != 0; }
  static bool Close(Handle h) { return CryptReleaseContext(h, 0) != FALSE; }
};
using CryptProvider = ScopedHandle<CryptProviderTraits>;

struct CryptKeyTraits {
  using Handle = HCRYPTKEY;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle h) { return h != 0; }
  static bool Close(Handle h) { return CryptDestroyKey(h) != FALSE; }
};
using CryptKey = ScopedHandle<CryptKeyTraits>;

// BSTRs (SysAllocString); an absent text is null.
struct BstrTraits {
  using Handle = BSTR;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) {
    SysFreeString(h);
    return true;
  }
};
using ScopedBstr = ScopedHandle<BstrTraits>;

// An owned COM interface pointer: released once, when it goes out of scope or
// is replaced.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(Interface* p) : p_(p) {}
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.p_, nullptr));
    return *this;
  }

  Interface* Get() const { return p_; }
  Interface* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset(Interface* p = nullptr) {
    if (p_) p_->Release();
    p_ = p;
  }
  // For calls that hand a new interface out through a pointer.
  Interface** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

 private:
  Interface* p_ = nullptr;
};
