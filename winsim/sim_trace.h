// The trace of the simulated platform: one entry per call, written from the call's record
// (sim_call.h) when it ends, with its arguments and result as text, kept in memory for the tests
// and appended to the trace file (ORVCARD_TRACE) when there is one; and the text forms the
// entries are written in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace_text.h"
#include "platform/win_types.h"
#include "winsim/sim_call.h"

namespace winsim {

// One traced call: the function name, its arguments and its result as text, and the device
// instance path (e.g. ORVPCARD_ENUM\ORVPCARD_PARPECP\1) when the call is about one device.
struct TraceEntry {
  std::string api;
  std::string args;
  std::string result;
  std::string device;
  std::string Line() const;  // api(args) = result [device]
};

// The handles the seam hands out, every kind numbered in one series from 0x1000, so that the
// trace can name a handle by the order of its creation.
class HandleNumbers {
 public:
  std::uintptr_t New() { return next_++; }
  // The rank of a handle handed out (1 for the first), or 0 for any other value.
  std::uintptr_t Rank(std::uintptr_t value) const {
    return value >= kFirst && value < next_ ? value - kFirst + 1 : 0;
  }

 private:
  static constexpr std::uintptr_t kFirst = 0x1000;
  std::uintptr_t next_ = kFirst;
};

class SimTracer {
 public:
  // `traceFd`: a file open for appending (OpenTraceFile), one line per call, closed here (-1:
  // none); `keep`: the entries are kept for entries(). Failed calls set `lastError`; `handles`
  // names handles.
  SimTracer(int traceFd, bool keep, const HandleNumbers& handles, orv::DWORD& lastError);
  ~SimTracer();
  SimTracer(const SimTracer&) = delete;
  SimTracer& operator=(const SimTracer&) = delete;

  const std::vector<TraceEntry>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }

  // Records the end of `call`: what it returned, as the trace shows it; a failure `error` (not 0)
  // is set as the last error and shown after it ("0 (0x5)"); what the call handed out,
  // `outputs`, follows " -> ". Every call of the simulated platform ends here.
  void End(const Call& call, std::string_view returned, orv::DWORD error = 0,
           std::string_view outputs = {});
  // Ends a call that returns a BOOL: TRUE, or FALSE with `status` as the last error.
  orv::BOOL EndBool(const Call& call, orv::DWORD status, std::string_view outputs = {});
  // Ends a call that returns its status (which is not the last error).
  orv::LONG EndStatus(const Call& call, orv::DWORD status, std::string_view outputs = {});
  // A handle argument (HandleText).
  CallArg HandleArg(const char* kind, const void* handle) const {
    return ShownArg(HandleText(kind, handle));
  }
  // Trace text of a handle: kind#n for the handles of this seam (n counts from 1 in order of
  // creation), HKLM, null, INVALID_HANDLE_VALUE, or the raw value in hex.
  std::string HandleText(const char* kind, const void* handle) const;

 private:
  int traceFd_;
  bool keep_;
  const HandleNumbers& handles_;
  orv::DWORD& lastError_;
  std::vector<TraceEntry> entries_;
};

// Text helpers for the trace and the tests (platform/trace_text.h).
using orv::DataText;
using orv::Hex;
using orv::Narrow;
using orv::Quoted;

}  // namespace winsim
