// Whole documents through the lumetra tool against the peers' own tools, each
// a whole process on the same A4 300 dpi pages (2480 x 3508): PDF against
// tiff2pdf, BMP and PCX against ImageMagick's convert. Each benchmark reports
// our time, the tool's and their ratio. The TIFF and JPEG codecs are measured
// like for like by compare_codecs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/streams.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

constexpr int kWidth = 2480, kHeight = 3508;

std::string Temp(const std::string& name) {
  return "/tmp/qv_bench_" + name;
}

// Text-like content: lines of glyph-sized marks on a white page, a grey
// wash in the margin and, in colour, a photo-like gradient block.
template <class T>
std::unique_ptr<T> MakePage(TImageFormat format) {
  auto page = std::make_unique<T>();
  page->NewImage(kWidth, kHeight, format, nullptr, 300, 300);
  std::uint32_t seed = 7;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = page->ScanLine(y);
    const bool textLine = (y / 50) % 2 == 0 && y > 300 && y < 3200 && (y % 50) > 12;
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      bool ink = textLine && x > 250 && x < 2230 && ((x / 23) % 5 != 4) && ((seed >> 28) < 9);
      std::uint8_t grey = ink ? 20 : 250;
      if (x < 120) grey = static_cast<std::uint8_t>(200 + (y % 40));
      switch (format) {
        case ifBlackWhite:
          if (!ink) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
          break;
        case ifGray256:
          row[x] = grey;
          break;
        default: {
          std::uint8_t* p = row + 3 * x;
          if (y > 2600 && y < 3400 && x > 300 && x < 2200) {
            p[0] = static_cast<std::uint8_t>(x / 9);
            p[1] = static_cast<std::uint8_t>(y / 14);
            p[2] = static_cast<std::uint8_t>((x + y) / 22 + (seed >> 29));
          } else {
            p[0] = p[1] = p[2] = grey;
          }
        }
      }
    }
  }
  return page;
}

double RunTool(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

template <class F>
double TimeMs(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void Report(benchmark::State& state, double ours, double tool, int n) {
  state.counters["ours_ms"] = ours / n;
  state.counters["tool_ms"] = tool / n;
  state.counters["ratio"] = tool > 0 ? ours / tool : -1;
}

#ifdef QV_LUMETRA_TOOL
// A 100-page black-and-white document: the lumetra tool converting the
// scanned TIFF into a PDF against tiff2pdf on the same TIFF, then one page
// appended to that PDF against tiff2pdf converting the 101-page TIFF again
// (it cannot append). Both are whole processes.
void PrepareDocuments(int pages) {
  auto page = MakePage<TTiffGraphic>(ifBlackWhite);
  page->SaveToFile(Temp("page.tif"));
  TMemoryStream document;
  for (int i = 0; i < pages; ++i) page->AppendToStream(document);
  document.SaveToFile(Temp("doc100.tif"));
  page->AppendToStream(document);
  document.SaveToFile(Temp("doc101.tif"));
}

void BM_PdfFrom100PageTiff(benchmark::State& state) {
  PrepareDocuments(100);
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    ours += RunTool(std::string(QV_LUMETRA_TOOL) + " convert " + Temp("doc100.tif") + " " +
                    Temp("ours100.pdf"));
    tool += RunTool("tiff2pdf -o " + Temp("tool100.pdf") + " " + Temp("doc100.tif"));
    ++n;
  }
  Report(state, ours, tool, n);
}

void BM_PdfAppendPage101(benchmark::State& state) {
  PrepareDocuments(100);
  RunTool(std::string(QV_LUMETRA_TOOL) + " convert " + Temp("doc100.tif") + " " +
          Temp("base100.pdf"));
  TMemoryStream base;
  base.LoadFromFile(Temp("base100.pdf"));
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    base.SaveToFile(Temp("ours101.pdf"));
    ours += RunTool(std::string(QV_LUMETRA_TOOL) + " append " + Temp("page.tif") + " " +
                    Temp("ours101.pdf"));
    tool += RunTool("tiff2pdf -o " + Temp("tool101.pdf") + " " + Temp("doc101.tif"));
    ++n;
  }
  Report(state, ours, tool, n);
}

BENCHMARK(BM_PdfFrom100PageTiff)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PdfAppendPage101)->Unit(benchmark::kMillisecond)->Iterations(5);

// BMP and PCX: the lumetra tool against ImageMagick's convert, each a whole
// process converting the same uncompressed TIFF page into the format
// (write) and the format back into an uncompressed TIFF (read).
void BitmapCodec(benchmark::State& state, TImageFormat format, const char* extension, bool write) {
  auto page = MakePage<TTiffGraphic>(format);
  page->SetCompression(tcNone);
  page->SaveToFile(Temp("raw.tif"));
  const std::string ours = QV_LUMETRA_TOOL;
  const std::string file = Temp(std::string("page.") + extension);
  const std::string tool = Temp(std::string("tool.") + extension);
  RunTool(ours + " convert " + Temp("raw.tif") + " " + file);
  double oursMs = 0, toolMs = 0;
  int n = 0;
  for (auto _ : state) {
    if (write) {
      oursMs += RunTool(ours + " convert " + Temp("raw.tif") + " " + file);
      toolMs += RunTool("convert " + Temp("raw.tif") + " " + tool);
    } else {
      oursMs += RunTool(ours + " convert " + file + " " + Temp("back.tif") + " --compression none");
      toolMs += RunTool("convert " + file + " -compress none " + Temp("back_tool.tif"));
    }
    ++n;
  }
  Report(state, oursMs, toolMs, n);
}

void BM_WriteBmpBlackWhite(benchmark::State& s) {
  BitmapCodec(s, ifBlackWhite, "bmp", true);
}
void BM_ReadBmpBlackWhite(benchmark::State& s) {
  BitmapCodec(s, ifBlackWhite, "bmp", false);
}
void BM_WriteBmpColour(benchmark::State& s) {
  BitmapCodec(s, ifTrueColor, "bmp", true);
}
void BM_ReadBmpColour(benchmark::State& s) {
  BitmapCodec(s, ifTrueColor, "bmp", false);
}
void BM_WritePcxBlackWhite(benchmark::State& s) {
  BitmapCodec(s, ifBlackWhite, "pcx", true);
}
void BM_ReadPcxBlackWhite(benchmark::State& s) {
  BitmapCodec(s, ifBlackWhite, "pcx", false);
}
void BM_WritePcxColour(benchmark::State& s) {
  BitmapCodec(s, ifTrueColor, "pcx", true);
}
void BM_ReadPcxColour(benchmark::State& s) {
  BitmapCodec(s, ifTrueColor, "pcx", false);
}

BENCHMARK(BM_WriteBmpBlackWhite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReadBmpBlackWhite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WriteBmpColour)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReadBmpColour)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WritePcxBlackWhite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReadPcxBlackWhite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WritePcxColour)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReadPcxColour)->Unit(benchmark::kMillisecond)->Iterations(5);
#endif

}  // namespace
}  // namespace lumetra
