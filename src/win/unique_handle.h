#pragma once
// Owning wrappers for Win32 handles: every handle is released on every path by
// construction. One template, one traits struct per kind of handle. Closing
// keeps the thread's last error, so a failure can still be reported after the
// handles of the failed step have gone.

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <utility>

namespace win {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const { return handle_; }
  bool valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return valid(); }

  // The caller owns the handle afterwards; dropping it would leak it.
  [[nodiscard]] Type release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Type handle = Traits::Invalid()) {
    Type old = std::exchange(handle_, handle);
    if (!Traits::IsValid(old)) return;
    const DWORD lastError = ::GetLastError();
    Traits::Close(old);
    ::SetLastError(lastError);
  }
  // For APIs that return the handle through an out parameter.
  Type* put() {
    reset();
    return &handle_;
  }

 private:
  Type handle_ = Traits::Invalid();
};

// Kernel objects whose "no handle" value is null: events, mutexes, processes, threads.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

// Kernel objects whose failure value is INVALID_HANDLE_VALUE: files, snapshots.
struct FileHandleTraits : KernelHandleTraits {
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CloseServiceHandle(h); }
};

struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::FreeLibrary(h); }
};

struct EventSourceTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::DeregisterEventSource(h); }
};

// Memory the system allocated for the caller with LocalAlloc, such as the
// text of FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER.
template <typename T>
struct LocalMemoryTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type p) { return p != nullptr; }
  static void Close(Type p) { ::LocalFree(p); }
};

// Memory the system allocated for the caller with CoTaskMemAlloc, such as the
// path of SHGetKnownFolderPath.
template <typename T>
struct CoTaskMemoryTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type p) { return p != nullptr; }
  static void Close(Type p) { ::CoTaskMemFree(p); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueEvent = UniqueKernelHandle;
using UniqueMutex = UniqueKernelHandle;
using UniqueProcess = UniqueKernelHandle;
using UniqueThread = UniqueKernelHandle;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueSnapshot = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueService = UniqueHandle<ServiceHandleTraits>;
using UniqueLibrary = UniqueHandle<LibraryTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
template <typename T>
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits<T>>;

}  // namespace win
