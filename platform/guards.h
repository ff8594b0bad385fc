// Owners for the platform handles, so that no path can leave a key, device set, search, file,
// process or database open. Each closes through the seam; Close() lets a procedure close at the
// point its order of calls requires.
#pragma once

#include "platform/windows_api.h"

namespace orv {

template <typename Handle, typename Traits>
class HandleGuard {
 public:
  // Owns nothing yet; put() receives the handle from a call that hands it out.
  explicit HandleGuard(WindowsApi& api) : api_(api), handle_(Traits::Invalid()) {}
  HandleGuard(WindowsApi& api, Handle handle) : api_(api), handle_(handle) {}
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard() { Close(); }

  Handle get() const { return handle_; }
  bool valid() const { return Traits::Valid(handle_); }
  // For a call's out-parameter: closes what the guard holds and gives the call the place of
  // the handle, which the guard then owns.
  Handle* put() {
    Close();
    return &handle_;
  }
  void Close() {
    if (Traits::Valid(handle_)) {
      Traits::Close(api_, handle_);
    }
    handle_ = Traits::Invalid();
  }

 private:
  WindowsApi& api_;
  Handle handle_;
};

struct DevInfoTraits {
  static bool Valid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE; }
  static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(WindowsApi& api, HDEVINFO h) { api.SetupDiDestroyDeviceInfoList(h); }
};
// Registry keys from RegOpenKeyExW and RegCreateKeyExW (null when not open) and from
// SetupDiOpenDevRegKey (INVALID_HANDLE_VALUE when not open).
struct KeyTraits {
  static bool Valid(HKEY h) {
    return h != nullptr && h != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  static HKEY Invalid() { return nullptr; }
  static void Close(WindowsApi& api, HKEY h) { api.RegCloseKey(h); }
};
struct FindTraits {
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(WindowsApi& api, HANDLE h) { api.FindClose(h); }
};
// Handles closed with CloseHandle: files, processes, threads.
struct KernelObjectTraits {
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(WindowsApi& api, HANDLE h) { api.CloseHandle(h); }
};
// The COM port database. Every ComDBOpen is followed by its ComDBClose, whatever it returned:
// a failed open hands back INVALID_HANDLE_VALUE, which ComDBClose refuses without harm.
struct ComDbTraits {
  static bool Valid(HCOMDB h) { return h != nullptr; }
  static HCOMDB Invalid() { return nullptr; }
  static void Close(WindowsApi& api, HCOMDB h) { api.ComDBClose(h); }
};

using DevInfoGuard = HandleGuard<HDEVINFO, DevInfoTraits>;
using KeyGuard = HandleGuard<HKEY, KeyTraits>;
using FindGuard = HandleGuard<HANDLE, FindTraits>;
using KernelObjectGuard = HandleGuard<HANDLE, KernelObjectTraits>;
using ComDbGuard = HandleGuard<HCOMDB, ComDbTraits>;

}  // namespace orv
