// Owners of Win32 handles and COM references: each releases what it holds
// exactly once, on every path, and moves but never copies. One traits type
// per kind of handle names its empty value and its release call.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <utility>

namespace lumetra::win32 {

template <class Traits>
class unique_handle {
 public:
  using pointer = typename Traits::pointer;

  unique_handle() noexcept = default;
  explicit unique_handle(pointer value) noexcept : value_(value) {}
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  ~unique_handle() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
  [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(pointer value = Traits::invalid()) noexcept {
    const pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For out-parameters: frees the current value first.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
};

// Handles whose empty value is null.
template <class Handle, auto Close>
struct handle_traits {
  using pointer = Handle;
  static constexpr pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { Close(value); }
};

// GDI objects keep their own handle type for the calls that take it.
template <class Handle>
struct gdi_traits {
  using pointer = Handle;
  static constexpr pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::DeleteObject(value); }
};

using unique_module = unique_handle<handle_traits<HMODULE, ::FreeLibrary>>;
using unique_window = unique_handle<handle_traits<HWND, ::DestroyWindow>>;
using unique_hglobal = unique_handle<handle_traits<HGLOBAL, ::GlobalFree>>;
using unique_dc = unique_handle<handle_traits<HDC, ::DeleteDC>>;
using unique_hkey = unique_handle<handle_traits<HKEY, ::RegCloseKey>>;
using unique_icon = unique_handle<handle_traits<HICON, ::DestroyIcon>>;
using unique_kernel_handle = unique_handle<handle_traits<HANDLE, ::CloseHandle>>;
using unique_bitmap = unique_handle<gdi_traits<HBITMAP>>;
using unique_palette = unique_handle<gdi_traits<HPALETTE>>;
using unique_gdi_object = unique_handle<gdi_traits<HGDIOBJ>>;

// A device context of a window, given back with ReleaseDC.
class window_dc {
 public:
  explicit window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~window_dc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory context (compatible with another context) that puts back what
// it had selected before it is deleted.
class memory_dc {
 public:
  explicit memory_dc(HDC compatible) noexcept : dc_(::CreateCompatibleDC(compatible)) {}
  ~memory_dc() {
    if (dc_ && previous_) ::SelectObject(dc_.get(), previous_);
  }
  memory_dc(const memory_dc&) = delete;
  memory_dc& operator=(const memory_dc&) = delete;
  HDC get() const noexcept { return dc_.get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(dc_); }
  void select(HGDIOBJ object) noexcept {
    HGDIOBJ old = ::SelectObject(dc_.get(), object);
    if (!previous_) previous_ = old;
  }

 private:
  unique_dc dc_;
  HGDIOBJ previous_ = nullptr;
};

// A global memory block locked for a scope.
class global_lock {
 public:
  explicit global_lock(HGLOBAL block) noexcept
      : block_(block), address_(block ? ::GlobalLock(block) : nullptr) {}
  ~global_lock() {
    if (address_) ::GlobalUnlock(block_);
  }
  global_lock(const global_lock&) = delete;
  global_lock& operator=(const global_lock&) = delete;
  void* get() const noexcept { return address_; }

 private:
  HGLOBAL block_;
  void* address_;
};

// Selects an object into a context for a scope and puts the old one back.
class select_object {
 public:
  select_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  ~select_object() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }
  select_object(const select_object&) = delete;
  select_object& operator=(const select_object&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// One counted reference to a COM interface.
template <class T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  // Takes over a reference the caller already holds.
  explicit com_ptr(T* value) noexcept : value_(value) {}
  com_ptr(com_ptr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, nullptr));
    return *this;
  }
  com_ptr(const com_ptr& other) noexcept : value_(other.value_) {
    if (value_) value_->AddRef();
  }
  com_ptr& operator=(const com_ptr& other) noexcept {
    if (other.value_) other.value_->AddRef();
    reset(other.value_);
    return *this;
  }
  ~com_ptr() { reset(); }

  // Adds a reference of its own to Value.
  static com_ptr copy(T* value) noexcept {
    if (value) value->AddRef();
    return com_ptr(value);
  }

  T* get() const noexcept { return value_; }
  T* operator->() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != nullptr; }
  [[nodiscard]] T* release() noexcept { return std::exchange(value_, nullptr); }
  void reset(T* value = nullptr) noexcept {
    T* old = std::exchange(value_, value);
    if (old) old->Release();
  }
  // For out-parameters: releases the current reference first.
  T** put() noexcept {
    reset();
    return &value_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  T* value_ = nullptr;
};

}  // namespace lumetra::win32
