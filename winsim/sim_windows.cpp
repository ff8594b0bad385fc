#include "winsim/sim_windows.h"

namespace winsim {

SimWindows::SimWindows(Machine& machine, SimOptions options) : sim_(machine, std::move(options)) {}

std::vector<std::string> SimWindows::TraceLines() const {
  std::vector<std::string> lines;
  lines.reserve(trace().size());
  for (const TraceEntry& entry : trace()) {
    lines.push_back(entry.Line());
  }
  return lines;
}

std::size_t SimWindows::OpenHandleCount() const {
  return registry_.OpenHandleCount() + setupApi_.OpenHandleCount() + comDb_.OpenHandleCount() +
         files_.OpenHandleCount() + processes_.OpenHandleCount();
}

orv::BOOL SimWindows::CloseHandle(orv::HANDLE handle) {
  if (files_.OwnsFile(handle)) {
    return files_.CloseFile(handle);
  }
  if (processes_.OwnsProcess(handle)) {
    return processes_.CloseProcess(handle);
  }
  return sim_.tracer.EndBool(Call("CloseHandle", {sim_.tracer.HandleArg("handle", handle)}),
                             orv::ERROR_INVALID_HANDLE);
}

}  // namespace winsim
