// A WindowsApi that forwards every call to another one and writes one trace line per call, in
// the text of the simulated machine's trace (platform/trace_text.h): the same arguments, results
// and outputs, handles named kind#n in the order the seam handed them out, device sets' members
// by their index in the set. The Windows builds wrap their backend in it when ORVCARD_TRACE
// names a file.
//
// What it cannot see it leaves out: the exit status of a started program (the simulated machine
// has it when CreateProcessW returns; here GetExitCodeProcess shows it), and the device instance
// of a call unless a DeviceNamer is given. The member count after SetupDiGetClassDevsW is found
// by enumerating the new set through the wrapped API, untraced.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/windows_api.h"

namespace orv {

class TracingWindows final : public WindowsApi {
 public:
  using Sink = std::function<void(const std::string& line)>;  // one line, without its "\n"
  // The instance path of a device (e.g. ORVPCARD_ENUM\ORVPCARD_SERP\0000), or empty.
  using DeviceNamer = std::function<std::string(HDEVINFO set, SP_DEVINFO_DATA* device)>;

  TracingWindows(WindowsApi& inner, Sink sink, DeviceNamer deviceNamer = {});

#include "platform/windows_api_overrides.inc"

 private:
  void Write(std::string_view api, std::string_view args, std::string_view result,
             std::string_view device = {});
  // The result of a call that returns a BOOL: "TRUE", then " -> outputs" when there are any,
  // or "FALSE (last error)".
  std::string BoolResult(BOOL ok, const std::string& outputs = {});
  // The result of a call that returns a status: Hex(status), then " -> outputs" when it
  // succeeded and there are any.
  static std::string StatusResult(DWORD status, const std::string& outputs = {});
  // "INVALID_HANDLE_VALUE (last error)".
  std::string InvalidHandleResult();
  // The result of a call that returns a length: "0 (error)" on failure, "n -> too small" when
  // the buffer was too small (n is then the size needed), else "n -> text".
  static std::string LengthResult(DWORD length, DWORD capacity, const WCHAR* buffer,
                                  DWORD lastError);
  // Installing or uninstalling a driver package: the same arguments, traced alike.
  using PackageFunction = DWORD (WindowsApi::*)(const WCHAR* infPath, DWORD flags,
                                                const INSTALLERINFO_W* installer, BOOL* needReboot);
  DWORD PackageCall(std::string_view api, PackageFunction function, const WCHAR* infPath,
                    DWORD flags, const INSTALLERINFO_W* installer, BOOL* needReboot);
  // Names a handle the wrapped API has just handed out.
  void Created(const void* handle, const char* kind);
  std::string Handle(const char* kind, const void* handle) const;
  const char* KindOf(const void* handle, const char* otherwise) const;
  // set#n[index] of a member, set#n[?] of an unknown one, set#n, null without one.
  std::string Member(HDEVINFO set, const SP_DEVINFO_DATA* device) const;
  std::string DeviceOf(HDEVINFO set, const SP_DEVINFO_DATA* device) const;
  std::string DeviceOfKey(HKEY key) const;
  // A successful key open: the new key lies in the instance of its parent, if any.
  void KeyOpened(HKEY parent, HKEY opened, const std::string& device);
  void KeyClosed(HKEY key);
  // A member enumerated at `index` of its set, with the instance path its DeviceNamer gave.
  void MemberFound(HDEVINFO set, const SP_DEVINFO_DATA& device, DWORD index, std::string path);
  void SetDestroyed(HDEVINFO set);  // forgets the set's members

  WindowsApi& inner_;
  Sink sink_;
  DeviceNamer deviceNamer_;
  std::uintptr_t nextRank_ = 1;
  struct Named {
    std::uintptr_t rank;
    const char* kind;
  };
  std::map<std::uintptr_t, Named> handles_;
  struct SetMember {
    DWORD index;
    std::string device;
  };
  std::map<std::pair<std::uintptr_t, DWORD>, SetMember> members_;  // (set, DevInst)
  std::map<std::uintptr_t, std::string> keyDevices_;
};

}  // namespace orv
