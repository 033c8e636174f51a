// Walking the pages of a long document: a 65,535-page TIFF of 1 x 1 pages
// (the most a document may hold), counted and read page by page by our
// reader, side by side in process with libtiff doing the same walk on the
// same file: TIFFReadDirectory on every directory (what tiffinfo does) and
// TIFFNumberOfDirectories (which only follows the links).
//   page_walk [rounds] [pages] [work dir]
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/streams.h"
#include "bench_timing.h"
#include "formats/tiff_graphic.h"

namespace {

// Written directly (libtiff's writer links each new directory by walking
// the chain, which takes minutes for this many): 1 x 1 grey pages, each
// directory followed by the next.
void WriteDocument(const std::string& path, std::uint32_t pages) {
  const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                   {273, 4}, {277, 3}, {278, 4}, {279, 4}};
  const std::uint32_t values[] = {1, 1, 8, 1, 1, 8, 1, 1, 1};
  constexpr std::uint16_t kEntries = 9;
  constexpr std::uint32_t kDirSize = 2 + 12 * kEntries + 4;
  std::vector<std::uint8_t> b(10 + std::size_t{kDirSize} * pages, 0);
  auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = b[1] = 'I';
  put(2, 42, 2);
  put(4, 10, 4);
  b[8] = 0x80;  // the pixel every page shares
  for (std::uint32_t p = 0; p < pages; ++p) {
    const std::size_t at = 10 + std::size_t{kDirSize} * p;
    put(at, kEntries, 2);
    for (int e = 0; e < kEntries; ++e) {
      put(at + 2 + 12 * e, tags[e][0], 2);
      put(at + 4 + 12 * e, tags[e][1], 2);
      put(at + 6 + 12 * e, 1, 4);
      put(at + 10 + 12 * e, values[e], tags[e][1] == 3 ? 2 : 4);
    }
    put(at + 2 + 12 * kEntries, p + 1 == pages ? 0 : static_cast<std::uint32_t>(at + kDirSize), 4);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size()) std::exit(1);
  std::fclose(f);
}

struct TLine {
  const char* name;
  std::vector<double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace lumetra;
  using lumetra::bench::Median;
  using lumetra::bench::Seconds;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int pages = argc > 2 ? std::atoi(argv[2]) : 65535;
  const std::string dir = argc > 3 ? argv[3] : "/tmp/quorvex-page-walk";
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  const std::string path = dir + "/pages.tif";
  TIFFSetWarningHandler(nullptr);
  WriteDocument(path, static_cast<std::uint32_t>(pages));

  int counted[4] = {};
  TLine lines[] = {{"ours: count", {}},
                   {"ours: read every page", {}},
                   {"libtiff: TIFFReadDirectory each", {}},
                   {"libtiff: TIFFNumberOfDirectories", {}}};
  for (int r = 0; r < rounds; ++r) {
    lines[0].seconds.push_back(Seconds([&] {
      TFileStream file(path, fmOpenRead);
      counted[0] = TTiffGraphic().GetImageCount(file);
    }));
    lines[1].seconds.push_back(Seconds([&] {
      TFileStream file(path, fmOpenRead);
      TTiffPageReader reader(file);
      TTiffGraphic page;
      counted[1] = 0;
      for (int i = 1; i <= reader.Count(); ++i, ++counted[1]) reader.Read(i, page);
    }));
    lines[2].seconds.push_back(Seconds([&] {
      TIFF* tif = TIFFOpen(path.c_str(), "rm");
      counted[2] = 1;
      while (TIFFReadDirectory(tif)) ++counted[2];
      TIFFClose(tif);
    }));
    lines[3].seconds.push_back(Seconds([&] {
      TIFF* tif = TIFFOpen(path.c_str(), "rm");
      counted[3] = TIFFNumberOfDirectories(tif);
      TIFFClose(tif);
    }));
  }
  std::printf("%d pages, CPU ms, median of %d           pages\n", pages, rounds);
  for (int i = 0; i < 4; ++i)
    std::printf("%-34s %8.1f %8d\n", lines[i].name, Median(lines[i].seconds) * 1e3, counted[i]);
  const double peer = Median(lines[2].seconds);
  std::printf("ours / libtiff walk: count %.2f, read every page %.2f\n", Median(lines[0].seconds) / peer,
              Median(lines[1].seconds) / peer);
  // A document of the most pages is counted within a second.
  return Median(lines[0].seconds) <= 1.0 && counted[0] == pages && counted[1] == pages ? 0 : 2;
}
