#include "winsim/sim_trace.h"

#include <unistd.h>

#include <cstring>

#include "platform/text.h"
#include "winsim/drive_changes.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

std::string TraceEntry::Line() const {
  return TraceLine(api, args, result, device);
}

SimTracer::SimTracer(int traceFd, bool keep, const HandleNumbers& handles, DWORD& lastError)
    : traceFd_(traceFd), keep_(keep), handles_(handles), lastError_(lastError) {}

SimTracer::~SimTracer() {
  if (traceFd_ >= 0) {
    ::close(traceFd_);
  }
}

void SimTracer::End(const Call& call, std::string_view returned, DWORD error,
                    std::string_view outputs) {
  TraceEntry entry{call.api, call.ArgsText(), std::string(returned), call.device};
  if (error != ERROR_SUCCESS) {
    lastError_ = error;
    entry.result += " (" + Hex(error) + ")";
  }
  if (!outputs.empty()) {
    entry.result += " -> ";
    entry.result += outputs;
  }
  if (traceFd_ >= 0) {
    if (const int failure = WriteAll(traceFd_, entry.Line() + "\n"); failure != 0) {
      // Said once; the run goes on without its trace.
      std::fprintf(stderr, "orvcard: the trace file (ORVCARD_TRACE) cannot be written: %s\n",
                   std::strerror(failure));
      ::close(traceFd_);
      traceFd_ = -1;
    }
  }
  if (keep_) {
    entries_.push_back(std::move(entry));
  }
}

BOOL SimTracer::EndBool(const Call& call, DWORD status, std::string_view outputs) {
  End(call, status == ERROR_SUCCESS ? "TRUE" : "FALSE", status, outputs);
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

LONG SimTracer::EndStatus(const Call& call, DWORD status, std::string_view outputs) {
  End(call, Hex(status), ERROR_SUCCESS, outputs);
  return static_cast<LONG>(status);
}

std::string SimTracer::HandleText(const char* kind, const void* handle) const {
  return orv::HandleText(kind, handle, handles_.Rank(reinterpret_cast<std::uintptr_t>(handle)));
}

}  // namespace winsim
