// Writing a scanned page row by row into a memory stream, then copying it
// into another: the pattern of every encoder that builds a file in memory.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/streams.h"

namespace {

void BM_MemoryStreamRowWrites(benchmark::State& state) {
  const int rowBytes = static_cast<int>(state.range(0));
  constexpr int kRows = 3508;
  std::vector<std::uint8_t> row(rowBytes, 0x5A);
  for (auto _ : state) {
    lumetra::TMemoryStream s;
    for (int y = 0; y < kRows; ++y) s.WriteBuffer(row.data(), rowBytes);
    lumetra::TMemoryStream copy;
    copy.CopyFrom(s, 0);
    benchmark::DoNotOptimize(copy.Memory());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(rowBytes) * kRows * 2);
}
// 1-bit, 8-bit and 24-bit rows of a 2480-pixel A4 page at 300 dpi.
BENCHMARK(BM_MemoryStreamRowWrites)->Arg(312)->Arg(2480)->Arg(7440);

}  // namespace
