// The trace of the simulated platform: one entry per call, with its arguments and result as text,
// kept in memory for the tests and appended to the trace file (ORVCARD_TRACE) when there is one;
// and the text forms the entries are written in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace_text.h"
#include "platform/win_types.h"

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

  // Records a call.
  void Trace(std::string api, std::string args, std::string result, std::string device = {});
  // Ends a traced call that returns a BOOL: sets the last error when `status` is not 0, records
  // "TRUE" or "FALSE (status)" followed by " -> outputs" when there are any, returns the BOOL.
  orv::BOOL TraceBool(std::string api, std::string args, orv::DWORD status, std::string device = {},
                      std::string outputs = {});
  // Ends a traced call that returns a status: records Hex(status) and the outputs.
  orv::LONG TraceStatus(std::string api, std::string args, orv::DWORD status,
                        std::string device = {}, std::string outputs = {});
  // Ends a failed call that returns a handle or a count: sets the last error and records
  // `returned` followed by " (status)".
  void TraceError(std::string api, std::string args, std::string_view returned, orv::DWORD status,
                  std::string device = {});
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
