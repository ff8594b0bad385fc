// The operation dispatcher: runs one operation, prints its messages, writes the optional
// response file and returns the result code.
#pragma once

#include "platform/windows_api.h"

namespace orv {

inline constexpr DWORD kOpInstall = 0x00001;
inline constexpr DWORD kOpUninstall = 0x00002;
inline constexpr DWORD kOpLaunchInstaller = 0x00004;
inline constexpr DWORD kOpCleanUpMapped = 0x00008;
inline constexpr DWORD kOpResponseFile = 0x00010;  // bit: also write the response file
inline constexpr DWORD kOpNothing = 0x01000;
inline constexpr DWORD kOpCleanUpRaw = 0x02000;
inline constexpr DWORD kOpCleanUpRawAlso = 0x03000;  // the same clean-up under a second code
inline constexpr DWORD kOpRenumberSerialPorts = 0x04000;
inline constexpr DWORD kOpReleaseAndRemoveSerialPorts = 0x08000;
inline constexpr DWORD kOpRestartDisplayDevices = 0x10000;
inline constexpr DWORD kOpReleaseSerialPortNumbers = 0x20000;
inline constexpr DWORD kOpRemapParallelPorts = 0x40000;

inline constexpr DWORD kResultInvalidOption = 10;

// The response-file path buffer, in UTF-16 units with the terminator.
inline constexpr int kResponsePathChars = 260;

// `argumentVector` is the process's vector, ended by a null pointer; only its elements 1 and 2
// are read, for the response file.
DWORD RunOperation(WindowsApi& api, DWORD operationCode, const WCHAR* const* argumentVector);

}  // namespace orv
