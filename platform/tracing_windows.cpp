// TracingWindows: the naming of handles, device-set members and keys, and the result texts
// that the calls of every area share. The calls themselves are in tracing_windows_<area>.cpp.
#include "platform/tracing_windows.h"

#include <utility>

#include "platform/trace_text.h"

namespace orv {

namespace {

std::uintptr_t Value(const void* handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

TracingWindows::TracingWindows(WindowsApi& inner, Sink sink, DeviceNamer deviceNamer)
    : inner_(inner), sink_(std::move(sink)), deviceNamer_(std::move(deviceNamer)) {}

void TracingWindows::Write(std::string_view api, std::string_view args, std::string_view result,
                           std::string_view device) {
  sink_(TraceLine(api, args, result, device));
}

std::string TracingWindows::BoolResult(BOOL ok, const std::string& outputs) {
  if (ok == FALSE) {
    return "FALSE (" + Hex(inner_.GetLastError()) + ")";
  }
  return outputs.empty() ? "TRUE" : "TRUE -> " + outputs;
}

std::string TracingWindows::StatusResult(DWORD status, const std::string& outputs) {
  return outputs.empty() ? Hex(status) : Hex(status) + " -> " + outputs;
}

std::string TracingWindows::InvalidHandleResult() {
  return "INVALID_HANDLE_VALUE (" + Hex(inner_.GetLastError()) + ")";
}

std::string TracingWindows::LengthResult(DWORD length, DWORD capacity, const WCHAR* buffer,
                                         DWORD lastError) {
  if (length == 0) {
    return "0 (" + Hex(lastError) + ")";
  }
  if (length >= capacity) {
    return std::to_string(length) + " -> too small";
  }
  return std::to_string(length) + " -> " + Quoted(buffer);
}

void TracingWindows::Created(const void* handle, const char* kind) {
  handles_[Value(handle)] = Named{nextRank_++, kind};
}

std::string TracingWindows::Handle(const char* kind, const void* handle) const {
  auto found = handles_.find(Value(handle));
  return HandleText(kind, handle, found == handles_.end() ? 0 : found->second.rank);
}

const char* TracingWindows::KindOf(const void* handle, const char* otherwise) const {
  auto found = handles_.find(Value(handle));
  return found == handles_.end() ? otherwise : found->second.kind;
}

std::string TracingWindows::Member(HDEVINFO set, const SP_DEVINFO_DATA* device) const {
  std::string text = Handle("set", set);
  if (device == nullptr) {
    return text + ", null";
  }
  auto found = members_.find({Value(set), device->DevInst});
  return text + "[" + (found == members_.end() ? "?" : std::to_string(found->second.index)) + "]";
}

std::string TracingWindows::DeviceOf(HDEVINFO set, const SP_DEVINFO_DATA* device) const {
  if (device == nullptr) {
    return {};
  }
  auto found = members_.find({Value(set), device->DevInst});
  return found == members_.end() ? std::string() : found->second.device;
}

std::string TracingWindows::DeviceOfKey(HKEY key) const {
  auto found = keyDevices_.find(Value(key));
  return found == keyDevices_.end() ? std::string() : found->second;
}

void TracingWindows::KeyOpened(HKEY parent, HKEY opened, const std::string& device) {
  Created(opened, "key");
  keyDevices_.erase(Value(opened));
  const std::string inherited = device.empty() ? DeviceOfKey(parent) : device;
  if (!inherited.empty()) {
    keyDevices_[Value(opened)] = inherited;
  }
}

void TracingWindows::KeyClosed(HKEY key) {
  keyDevices_.erase(Value(key));
}

void TracingWindows::MemberFound(HDEVINFO set, const SP_DEVINFO_DATA& device, DWORD index,
                                 std::string path) {
  members_[{Value(set), device.DevInst}] = SetMember{index, std::move(path)};
}

void TracingWindows::SetDestroyed(HDEVINFO set) {
  std::erase_if(members_, [&](const auto& entry) { return entry.first.first == Value(set); });
}

DWORD TracingWindows::GetLastError() {
  return inner_.GetLastError();
}

}  // namespace orv
