#pragma once
// The benchmarks that take the program through a whole scenario: one
// iteration, timed by the benchmark itself, in seconds, with the program's
// port 23 kept from the host where the process may.
#include <benchmark/benchmark.h>

#include <functional>
#include <string_view>

#include "support/NetNamespace.h"

// main() of such a benchmark: each argument is offered to flag, for the
// benchmark's own options.
inline int RunOnce(int argc, char** argv, const char* name, void (*scenario)(benchmark::State&),
                   const std::function<void(std::string_view)>& flag) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) flag(argv[i]);
  tptest::EnterPrivateNetwork();
  benchmark::RegisterBenchmark(name, scenario)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
