// Pixel access on an A4 page at 300 dpi (2480 x 3508) in every format: rows
// read and written through Pixels / SetPixels (one indirect call a pixel),
// raw rows through ScanLine, and nearest-colour writes into indexed images
// with and without long runs of one colour.
#include <benchmark/benchmark.h>

#include <cstring>

#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"

namespace lumetra {
namespace {

constexpr int kPageWidth = 2480;
constexpr int kPageHeight = 3508;

TDibGraphic& Page(TImageFormat format) {
  static TDibGraphic pages[6];
  TDibGraphic& page = pages[format];
  if (page.Empty()) page.NewImage(kPageWidth, kPageHeight, format, nullptr, 300, 300);
  return page;
}

void Formats(benchmark::internal::Benchmark* b) {
  for (int format = ifBlackWhite; format <= ifTrueColor; ++format) b->Arg(format);
  b->Unit(benchmark::kMillisecond);
}

void BM_ReadPixelsPerRow(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (int y = 0; y < kPageHeight; ++y)
      for (int x = 0; x < kPageWidth; ++x) sum += page.Pixels(x, y);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kPageWidth * kPageHeight);
}
BENCHMARK(BM_ReadPixelsPerRow)->Apply(Formats);

void BM_ScanLineCopy(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  std::vector<std::uint8_t> row(page.RowStride());
  for (auto _ : state) {
    for (int y = 0; y < kPageHeight; ++y) {
      std::memcpy(row.data(), page.ScanLine(y), row.size());
      std::memcpy(page.ScanLine(kPageHeight - 1 - y), row.data(), row.size());
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 2 * page.ImageSize());
}
BENCHMARK(BM_ScanLineCopy)->Apply(Formats);

// Runs of 64 equal colours: what transforms writing scanned pages see, where
// the nearest-colour cache answers most writes.
void BM_WriteRuns(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  for (auto _ : state) {
    for (int y = 0; y < kPageHeight; ++y)
      for (int x = 0; x < kPageWidth; ++x)
        page.SetPixels(x, y, ((x >> 6) * 0x10305u + y * 0x20101u) & 0xFFFFFF);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPageWidth * kPageHeight);
}
BENCHMARK(BM_WriteRuns)->Apply(Formats);

// A new colour every pixel: every write misses the cache and searches the
// palette.
void BM_WriteNoise(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  for (auto _ : state) {
    std::uint32_t colour = 12345;
    for (int y = 0; y < kPageHeight; ++y)
      for (int x = 0; x < kPageWidth; ++x) {
        colour = colour * 1664525u + 1013904223u;
        page.SetPixels(x, y, colour >> 8);
      }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPageWidth * kPageHeight);
}
BENCHMARK(BM_WriteNoise)->Apply(Formats)->Iterations(1);

void BM_FillPage(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  for (auto _ : state) {
    page.Fill(0x336699);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FillPage)->Apply(Formats);

// Loading a scanner's packed DIB of the page, plain and as 16-bit data.
void BM_LoadPackedDib(benchmark::State& state) {
  TDibGraphic& page = Page(static_cast<TImageFormat>(state.range(0)));
  state.SetLabel(ImageFormatName(page.ImageFormat()));
  const std::vector<std::uint8_t> block = page.SaveToDIBBlock();
  TDibGraphic dest;
  for (auto _ : state) dest.LoadFromDIBBlock(block.data(), block.size());
  state.SetBytesProcessed(state.iterations() * block.size());
}
BENCHMARK(BM_LoadPackedDib)->Apply(Formats);

}  // namespace
}  // namespace lumetra
