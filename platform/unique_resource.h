// Move-only owners for Win32 and OLE resources. Every handle, key, string,
// array and library the server touches lives in one of these, so that no early
// return can carry a resource past the end of a call.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>
#include <winsvc.h>

#include <cstdio>
#include <utility>

namespace zelk {

// Owns one value of type T; Traits supplies the invalid value and the release
// function. Releasing preserves the thread's last error, so an owner going out
// of scope never disturbs the error a caller is about to report.
template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return value_; }
  bool is_valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return is_valid(); }

  // Gives up ownership without releasing.
  T release() {
    T value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  void reset(T value = Traits::Invalid()) {
    if (value_ == value) return;
    T old = value_;
    value_ = value;
    if (old != Traits::Invalid()) {
      DWORD saved_error = GetLastError();
      Traits::Close(old);
      SetLastError(saved_error);
    }
  }

  // Frees the current value and returns the address for an API to fill.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Invalid();
};

struct HkeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
struct HandleTraits {  // CreateEvent, CreateThread, OpenProcess: NULL on failure
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct FileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE on failure
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct StdioFileTraits {
  static FILE* Invalid() { return nullptr; }
  static void Close(FILE* file) { fclose(file); }
};
struct BstrTraits {
  static BSTR Invalid() { return nullptr; }
  static void Close(BSTR text) { SysFreeString(text); }
};
struct SafeArrayTraits {
  static SAFEARRAY* Invalid() { return nullptr; }
  static void Close(SAFEARRAY* array) { SafeArrayDestroy(array); }
};
struct LibraryTraits {
  static HMODULE Invalid() { return nullptr; }
  static void Close(HMODULE module) { FreeLibrary(module); }
};

struct LocalMemoryTraits {  // memory the system allocated for the caller with LocalAlloc
  static void* Invalid() { return nullptr; }
  static void Close(void* memory) { LocalFree(memory); }
};
struct ServiceHandleTraits {  // OpenSCManager, OpenService
  static SC_HANDLE Invalid() { return nullptr; }
  static void Close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};
struct CryptProviderTraits {
  static HCRYPTPROV Invalid() { return 0; }
  static void Close(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
};
struct CryptHashTraits {
  static HCRYPTHASH Invalid() { return 0; }
  static void Close(HCRYPTHASH hash) { CryptDestroyHash(hash); }
};

using UniqueHkey = UniqueResource<HKEY, HkeyTraits>;
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;
using UniqueFileHandle = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueStdioFile = UniqueResource<FILE*, StdioFileTraits>;
using UniqueBstr = UniqueResource<BSTR, BstrTraits>;
using UniqueSafeArray = UniqueResource<SAFEARRAY*, SafeArrayTraits>;
using UniqueLibrary = UniqueResource<HMODULE, LibraryTraits>;
using UniqueLocalMemory = UniqueResource<void*, LocalMemoryTraits>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, ServiceHandleTraits>;
using UniqueCryptProvider = UniqueResource<HCRYPTPROV, CryptProviderTraits>;
using UniqueCryptHash = UniqueResource<HCRYPTHASH, CryptHashTraits>;

// Closes a file we wrote, explicitly, so that a failure to write its last
// buffered bytes can be reported: fclose's result (0 on success). The owner's
// destructor is only the backstop for early returns.
inline int CloseStdioFile(UniqueStdioFile* file) {
  FILE* stream = file->release();
  return stream == nullptr ? 0 : fclose(stream);
}

// Owns a VARIANT; clears it on destruction.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { Reset(); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  const VARIANT& get() const { return value_; }
  VARIANT* get_mutable() { return &value_; }
  // Clears the current value and returns the address for an API to fill.
  VARIANT* Receive() {
    Reset();
    return &value_;
  }
  // Hands the value to the caller's VARIANT (which must be empty) and empties this one.
  void Release(VARIANT* out) {
    *out = value_;
    VariantInit(&value_);
  }
  void Reset() { VariantClear(&value_); }

 private:
  VARIANT value_;
};

// Owns one interface pointer; Release() on destruction.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(other.detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = other.detach();
    }
    return *this;
  }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  Interface* detach() {
    Interface* pointer = pointer_;
    pointer_ = nullptr;
    return pointer;
  }
  void reset() {
    if (pointer_ != nullptr) {
      Interface* old = pointer_;
      pointer_ = nullptr;
      old->Release();
    }
  }
  // Takes over a reference the caller already holds.
  void attach(Interface* pointer) {
    reset();
    pointer_ = pointer;
  }
  Interface** put() {
    reset();
    return &pointer_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace zelk
