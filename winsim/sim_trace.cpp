#include "winsim/sim_trace.h"

namespace winsim {

using namespace orv;

std::string TraceEntry::Line() const {
  return TraceLine(api, args, result, device);
}

SimTracer::SimTracer(std::string traceFile, bool keep, const HandleNumbers& handles,
                     DWORD& lastError)
    : traceFile_(std::move(traceFile)), keep_(keep), handles_(handles), lastError_(lastError) {}

SimTracer::~SimTracer() {
  if (out_ != nullptr) {
    std::fclose(out_);
  }
}

void SimTracer::Trace(std::string api, std::string args, std::string result, std::string device) {
  TraceEntry entry{std::move(api), std::move(args), std::move(result), std::move(device)};
  if (!traceFile_.empty() && !outFailed_) {
    if (out_ == nullptr) {
      out_ = std::fopen(traceFile_.c_str(), "a");
      if (out_ == nullptr) {
        outFailed_ = true;
        std::fprintf(stderr, "winsim: cannot append to the trace file %s\n", traceFile_.c_str());
      }
    }
    if (out_ != nullptr) {
      const std::string line = entry.Line() + "\n";
      std::fwrite(line.data(), 1, line.size(), out_);
      std::fflush(out_);
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
