// TracingWindows: files, handles, the driver-package interface and the C runtime.
#include "platform/tracing_windows.h"

#include "platform/trace_text.h"

namespace orv {

DWORD TracingWindows::GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                                       WCHAR** filePart) {
  const std::string args = Quoted(fileName) + ", " + std::to_string(bufferChars);
  const DWORD length = inner_.GetFullPathNameW(fileName, bufferChars, buffer, filePart);
  Write("GetFullPathNameW", args,
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

HANDLE TracingWindows::FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) {
  const std::string args = Quoted(pattern);
  HANDLE search = inner_.FindFirstFileW(pattern, findData);
  if (search == INVALID_HANDLE_VALUE) {
    Write("FindFirstFileW", args, InvalidHandleResult());
    return search;
  }
  Created(search, "find");
  Write("FindFirstFileW", args, Handle("find", search) + " -> " + Quoted(findData->cFileName));
  return search;
}

BOOL TracingWindows::FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) {
  const std::string args = Handle("find", search);
  const BOOL ok = inner_.FindNextFileW(search, findData);
  Write("FindNextFileW", args, BoolResult(ok, ok != FALSE ? Quoted(findData->cFileName) : ""));
  return ok;
}

BOOL TracingWindows::FindClose(HANDLE search) {
  const std::string args = Handle("find", search);
  const BOOL ok = inner_.FindClose(search);
  Write("FindClose", args, BoolResult(ok));
  return ok;
}

HANDLE TracingWindows::CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode,
                                   const void* security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
  const std::string args = Quoted(fileName) + ", " + Hex(access) + ", " + Hex(shareMode) + ", " +
                           std::to_string(disposition) + ", " + Hex(flags);
  HANDLE file =
      inner_.CreateFileW(fileName, access, shareMode, security, disposition, flags, templateFile);
  if (file == INVALID_HANDLE_VALUE) {
    Write("CreateFileW", args, InvalidHandleResult());
    return file;
  }
  Created(file, "file");
  Write("CreateFileW", args, Handle("file", file));
  return file;
}

BOOL TracingWindows::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                              void* overlapped) {
  const std::string args = Handle("file", file) + ", " + std::to_string(bytesToRead);
  const BOOL ok = inner_.ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
  Write("ReadFile", args,
        BoolResult(ok, ok != FALSE && bytesRead != nullptr ? std::to_string(*bytesRead) : ""));
  return ok;
}

BOOL TracingWindows::CloseHandle(HANDLE handle) {
  const std::string args = Handle(KindOf(handle, "handle"), handle);
  const BOOL ok = inner_.CloseHandle(handle);
  Write("CloseHandle", args, BoolResult(ok));
  return ok;
}

// Driver-package interface.

DWORD TracingWindows::DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                                            const INSTALLERINFO_W* installer, BOOL* needReboot) {
  return PackageCall("DriverPackageInstallW", &WindowsApi::DriverPackageInstallW, infPath, flags,
                     installer, needReboot);
}

DWORD TracingWindows::DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                              const INSTALLERINFO_W* installer, BOOL* needReboot) {
  return PackageCall("DriverPackageUninstallW", &WindowsApi::DriverPackageUninstallW, infPath,
                     flags, installer, needReboot);
}

DWORD TracingWindows::PackageCall(std::string_view api, PackageFunction function,
                                  const WCHAR* infPath, DWORD flags,
                                  const INSTALLERINFO_W* installer, BOOL* needReboot) {
  const std::string args = Quoted(infPath) + ", " + Hex(flags);
  const DWORD status = (inner_.*function)(infPath, flags, installer, needReboot);
  Write(api, args, StatusResult(status));
  return status;
}

DWORD TracingWindows::DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                            DWORD* storePathChars) {
  const std::string args = Quoted(infPath) + ", " +
                           (storePathChars == nullptr ? "null" : std::to_string(*storePathChars));
  const DWORD status = inner_.DriverPackageGetPathW(infPath, storePath, storePathChars);
  std::string outputs;
  if (status == ERROR_SUCCESS) {
    outputs = Quoted(storePath) + ", " + std::to_string(*storePathChars);
  } else if (status == ERROR_INSUFFICIENT_BUFFER && storePathChars != nullptr) {
    outputs = std::to_string(*storePathChars);
  }
  Write("DriverPackageGetPathW", args, StatusResult(status, outputs));
  return status;
}

// C runtime.

void TracingWindows::CrtWriteStdout(const WCHAR* text) {
  inner_.CrtWriteStdout(text);
  Write("CrtWriteStdout", Quoted(text), "void");
}

void* TracingWindows::CrtOpenAppend(const WCHAR* path) {
  void* file = inner_.CrtOpenAppend(path);
  if (file != nullptr) {
    Created(file, "crt");
  }
  Write("CrtOpenAppend", Quoted(path), Handle("crt", file));
  return file;
}

int TracingWindows::CrtWriteText(void* file, const WCHAR* text) {
  const std::string args = Handle("crt", file) + ", " + Quoted(text);
  const int written = inner_.CrtWriteText(file, text);
  Write("CrtWriteText", args, std::to_string(written));
  return written;
}

int TracingWindows::CrtClose(void* file) {
  const std::string args = Handle("crt", file);
  const int result = inner_.CrtClose(file);
  Write("CrtClose", args, std::to_string(result));
  return result;
}

}  // namespace orv
