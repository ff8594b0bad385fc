// The modes of machine_bench, one file each. Each measures in the work folder and hands back
// what prints its report on stdout, so that the work folder can go first; progress goes to
// stderr.
#pragma once

#include <functional>

#include "bench/bench_support.h"

namespace orvbench {

using ReportPrinter = std::function<void()>;

// The device and record operations of orvcard-op on machines of every size, against the floor
// (bench_operations.cpp).
ReportPrinter MeasureOperations(const Options& options);

// Loading a customer's export and `winsim diff` (bench_replay.cpp).
ReportPrinter MeasureReplays(const Options& options);

// Inputs of one kind that grow alone on the sample machine (bench_shapes.cpp). Its rows are
// printed as they are measured: the printer it hands back prints nothing.
ReportPrinter MeasureShapes(const Options& options);

// `orvcard-op 0x11` with growing folders of INF files (bench_packages.cpp).
ReportPrinter MeasurePackages(const Options& options);

// -RemoveDeviceNode on an offline installation's hives against the .reg image
// (bench_offline.cpp).
ReportPrinter MeasureOffline(const Options& options);

}  // namespace orvbench
