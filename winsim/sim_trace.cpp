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

void SimTracer::Trace(std::string api, std::string args, std::string result, std::string device) {
  TraceEntry entry{std::move(api), std::move(args), std::move(result), std::move(device)};
  if (traceFd_ >= 0) {
    if (const int error = WriteAll(traceFd_, entry.Line() + "\n"); error != 0) {
      // Said once; the run goes on without its trace.
      std::fprintf(stderr, "orvcard: the trace file (ORVCARD_TRACE) cannot be written: %s\n",
                   std::strerror(error));
      ::close(traceFd_);
      traceFd_ = -1;
    }
  }
  if (keep_) {
    entries_.push_back(std::move(entry));
  }
}

BOOL SimTracer::TraceBool(std::string api, std::string args, DWORD status, std::string device,
                          std::string outputs) {
  std::string result = status == ERROR_SUCCESS ? "TRUE" : "FALSE (" + Hex(status) + ")";
  if (!outputs.empty()) {
    result += " -> " + outputs;
  }
  if (status != ERROR_SUCCESS) {
    lastError_ = status;
  }
  Trace(std::move(api), std::move(args), std::move(result), std::move(device));
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

LONG SimTracer::TraceStatus(std::string api, std::string args, DWORD status, std::string device,
                            std::string outputs) {
  std::string result = Hex(status);
  if (!outputs.empty()) {
    result += " -> " + outputs;
  }
  Trace(std::move(api), std::move(args), std::move(result), std::move(device));
  return static_cast<LONG>(status);
}

void SimTracer::TraceError(std::string api, std::string args, std::string_view returned,
                           DWORD status, std::string device) {
  lastError_ = status;
  Trace(std::move(api), std::move(args), std::string(returned) + " (" + Hex(status) + ")",
        std::move(device));
}

std::string SimTracer::HandleText(const char* kind, const void* handle) const {
  return orv::HandleText(kind, handle, handles_.Rank(reinterpret_cast<std::uintptr_t>(handle)));
}

}  // namespace winsim
