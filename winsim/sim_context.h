// What the areas of the simulated platform share: the machine and its file space, the options of
// the run, the last error, the numbering of handles, the one trace and the one set of faults.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "platform/win_types.h"
#include "winsim/file_space.h"
#include "winsim/machine.h"
#include "winsim/sim_faults.h"
#include "winsim/sim_trace.h"

namespace winsim {

struct SimOptions {
  std::u16string currentDirectory = u"C:\\";  // full Windows path
  std::FILE* stdoutSink = nullptr;            // where console text also goes (null: kept only)
  std::FILE* stderrSink = nullptr;  // where the machine's notices go (a refused response file)
  int traceFd = -1;       // ORVCARD_TRACE (OpenTraceFile): one line per call; the tracer closes it
  bool keepTrace = true;  // keep the trace in memory for trace()
  // The process is the x86 build. On a 64-bit machine it then runs under WOW64, with Windows'
  // rules there (see SimSystemInfo::Wow64()); on a 32-bit machine it is the native build.
  bool x86Process = false;
  // The folder of the running program (full Windows path), searched first for a program or
  // file named without a folder; empty when the program has no folder on the machine.
  std::u16string programFolder;
};

struct SimContext {
  SimContext(Machine& machine, SimOptions options)
      : machine(machine),
        options(std::move(options)),
        files(machine.driveC(), this->options.currentDirectory),
        tracer(this->options.traceFd, this->options.keepTrace, handles, lastError) {}
  SimContext(const SimContext&) = delete;
  SimContext& operator=(const SimContext&) = delete;

  Machine& machine;
  const SimOptions options;
  FileSpace files;
  orv::DWORD lastError = 0;
  HandleNumbers handles;
  SimTracer tracer;
  SimFaults faults;
};

}  // namespace winsim
