// A scanned A4 page at 300 dpi (2480 x 3508) written and read by the format
// classes, side by side with libtiff's and libjpeg's own tools on the same
// pixels (whole process, as a user runs them). Each benchmark reports our
// time, the tool's time and their ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/jpeg_graphic.h"
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

void WritePortableMap(const TDibGraphic& page, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const bool grey = page.ImageFormat() == ifGray256;
  std::fprintf(f, "%s\n%d %d\n255\n", grey ? "P5" : "P6", kWidth, kHeight);
  std::vector<std::uint8_t> row(kWidth * 3);
  for (int y = 0; y < kHeight; ++y) {
    const std::uint8_t* s = page.ScanLine(y);
    if (grey) {
      std::fwrite(s, 1, kWidth, f);
    } else {
      for (int x = 0; x < kWidth; ++x) {
        row[3 * x] = s[3 * x + 2];
        row[3 * x + 1] = s[3 * x + 1];
        row[3 * x + 2] = s[3 * x];
      }
      std::fwrite(row.data(), 1, row.size(), f);
    }
  }
  std::fclose(f);
}

// Writes: ours into a file against "tiffcp -c CODEC" from an uncompressed
// TIFF of the same pixels.
void TiffWrite(benchmark::State& state, TImageFormat format, TTiffCompression compression,
               const char* codec) {
  auto page = MakePage<TTiffGraphic>(format);
  page->SetCompression(tcNone);
  page->SaveToFile(Temp("raw.tif"));
  page->SetCompression(compression);
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    ours += TimeMs([&] { page->SaveToFile(Temp("ours.tif")); });
    tool +=
        RunTool(std::string("tiffcp -c ") + codec + " " + Temp("raw.tif") + " " + Temp("tool.tif"));
    ++n;
  }
  Report(state, ours, tool, n);
}

// Reads: ours from the file we wrote against "tiffcp -c none" decoding the
// same file.
void TiffRead(benchmark::State& state, TImageFormat format, TTiffCompression compression) {
  auto page = MakePage<TTiffGraphic>(format);
  page->SetCompression(compression);
  page->SaveToFile(Temp("read.tif"));
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    TTiffGraphic back;
    ours += TimeMs([&] { back.LoadFromFile(Temp("read.tif")); });
    tool += RunTool("tiffcp -c none " + Temp("read.tif") + " " + Temp("decoded.tif"));
    ++n;
  }
  Report(state, ours, tool, n);
}

void BM_WriteGroup4(benchmark::State& s) {
  TiffWrite(s, ifBlackWhite, tcGroup4, "g4");
}
void BM_WritePackbitsGrey(benchmark::State& s) {
  TiffWrite(s, ifGray256, tcPackbits, "packbits");
}
void BM_ReadGroup4(benchmark::State& s) {
  TiffRead(s, ifBlackWhite, tcGroup4);
}
void BM_ReadPackbitsGrey(benchmark::State& s) {
  TiffRead(s, ifGray256, tcPackbits);
}

void BM_WriteJpegQ70(benchmark::State& state) {
  auto page = MakePage<TJpegGraphic>(ifTrueColor);
  page->JpegQuality = 70;
  WritePortableMap(*page, Temp("page.ppm"));
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    ours += TimeMs([&] { page->SaveToFile(Temp("ours.jpg")); });
    tool += RunTool("cjpeg -quality 70 -outfile " + Temp("tool.jpg") + " " + Temp("page.ppm"));
    ++n;
  }
  Report(state, ours, tool, n);
}

void BM_ReadJpegQ70(benchmark::State& state) {
  auto page = MakePage<TJpegGraphic>(ifTrueColor);
  page->JpegQuality = 70;
  page->SaveToFile(Temp("read.jpg"));
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    TJpegGraphic back;
    ours += TimeMs([&] { back.LoadFromFile(Temp("read.jpg")); });
    tool += RunTool("djpeg -outfile " + Temp("decoded.ppm") + " " + Temp("read.jpg"));
    ++n;
  }
  Report(state, ours, tool, n);
}

// The scanning path appends each page to the growing document: page 200
// must cost about what page 2 costs. tiffcp -a is timed on the same files.
void BM_AppendPage(benchmark::State& state) {
  const int existing = static_cast<int>(state.range(0));
  auto page = MakePage<TTiffGraphic>(ifBlackWhite);
  page->SaveToFile(Temp("page.tif"));
  TMemoryStream document;
  for (int i = 0; i < existing; ++i) page->AppendToStream(document);
  document.SaveToFile(Temp("base.tif"));
  double ours = 0, tool = 0;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    document.SaveToFile(Temp("doc.tif"));
    state.ResumeTiming();
    ours += TimeMs([&] {
      TFileStream file(Temp("doc.tif"), fmOpenReadWrite);
      page->AppendToStream(file);
    });
    state.PauseTiming();
    document.SaveToFile(Temp("doc_tool.tif"));
    state.ResumeTiming();
    tool += RunTool("tiffcp -a " + Temp("page.tif") + " " + Temp("doc_tool.tif"));
    ++n;
  }
  Report(state, ours, tool, n);
}

#ifdef QV_LUMETRA_TOOL
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

BENCHMARK(BM_WriteGroup4)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReadGroup4)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WritePackbitsGrey)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReadPackbitsGrey)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WriteJpegQ70)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReadJpegQ70)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_AppendPage)->Arg(1)->Arg(199)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace lumetra
