// In-process timings of the transforms on the benchmark page.
#include <benchmark/benchmark.h>

#include "bench_page.h"
#include "imaging/color_reduction.h"
#include "transforms/convolution_transforms.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "transforms/resize_transform.h"

namespace lumetra::bench {
namespace {

const TDibGraphic& Page() {
  static TDibGraphic page;
  if (page.Empty()) MakePage(page);
  return page;
}

const TDibGraphic& BlackWhitePage() {
  static TDibGraphic bw;
  if (bw.Empty()) MakeBlackWhitePage(Page(), bw);
  return bw;
}

const TDibGraphic& GreyPage() {
  static TDibGraphic grey;
  if (grey.Empty()) TConvertToGrayTransform().ApplyOnDest(Page(), grey);
  return grey;
}

void Run(benchmark::State& state, TImageTransform& transform, const TDibGraphic& source) {
  TDibGraphic dest;
  for (auto _ : state) {
    transform.ApplyOnDest(source, dest);
    benchmark::DoNotOptimize(dest.PixelMemory());
  }
}

void BM_ResizeHalf(benchmark::State& state) {
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetResampleFilter(static_cast<TResampleFilter>(state.range(0)));
  resize.SetNewWidth(kPageWidth / 2);
  resize.SetNewHeight(kPageHeight / 2);
  state.SetLabel(ResampleFilterName(static_cast<int>(state.range(0))));
  Run(state, resize, Page());
}
BENCHMARK(BM_ResizeHalf)->Arg(rfTriangle)->Arg(rfLanczos3)->Arg(rfMitchell)->Unit(benchmark::kMillisecond);

void BM_ResizeStretch(benchmark::State& state) {
  TResizeTransform resize;
  resize.SetNewWidth(kPageWidth / 2);
  resize.SetNewHeight(kPageHeight / 2);
  Run(state, resize, Page());
}
BENCHMARK(BM_ResizeStretch)->Unit(benchmark::kMillisecond);

void BM_Quantize256Dither(benchmark::State& state) {
  TImageFormatTransform format;
  format.SetTargetFormat(ifColor256);
  Run(state, format, Page());
}
BENCHMARK(BM_Quantize256Dither)->Unit(benchmark::kMillisecond);

void BM_Quantize256Nearest(benchmark::State& state) {
  TImageFormatTransform format;
  format.SetTargetFormat(ifColor256);
  format.SetDither(false);
  Run(state, format, Page());
}
BENCHMARK(BM_Quantize256Nearest)->Unit(benchmark::kMillisecond);

void BM_Rotate(benchmark::State& state) {
  TRotateTransform rotate;
  rotate.SetAngle(static_cast<double>(state.range(0)));
  Run(state, rotate, Page());
}
BENCHMARK(BM_Rotate)->Arg(90)->Arg(180)->Arg(270)->Arg(45)->Unit(benchmark::kMillisecond);

void BM_Rotate90BlackWhite(benchmark::State& state) {
  TRotateTransform rotate;
  Run(state, rotate, BlackWhitePage());
}
BENCHMARK(BM_Rotate90BlackWhite)->Unit(benchmark::kMillisecond);

void BM_FlipHorizontal(benchmark::State& state) {
  TFlipHorizontalTransform flip;
  Run(state, flip, Page());
}
BENCHMARK(BM_FlipHorizontal)->Unit(benchmark::kMillisecond);

void BM_FlipVertical(benchmark::State& state) {
  TFlipVerticalTransform flip;
  Run(state, flip, Page());
}
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond);

void BM_AntiAliasFullPage(benchmark::State& state) {
  TAntiAliasTransform aa;
  aa.SetTargetWidth(780);
  aa.SetTargetHeight(1103);
  Run(state, aa, BlackWhitePage());
}
BENCHMARK(BM_AntiAliasFullPage)->Unit(benchmark::kMillisecond);

void BM_SharpenGrey(benchmark::State& state) {
  TSharpenTransform sharpen;
  Run(state, sharpen, GreyPage());
}
BENCHMARK(BM_SharpenGrey)->Unit(benchmark::kMillisecond);

void BM_BrightnessTrueColour(benchmark::State& state) {
  TBrightnessTransform brightness;
  Run(state, brightness, Page());
}
BENCHMARK(BM_BrightnessTrueColour)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumetra::bench
