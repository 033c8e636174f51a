// Our codec path against its peers on one A4 300 dpi page (text and a
// photograph), in two honest pairings printed one after the other:
//
// - in process: our format class writing or reading a file against libtiff
//   or libjpeg-turbo called directly on the same pixels, the same file
//   layout (one strip, the same codec and quality), in this process;
// - whole process: `lumetra convert` against tiffcp, cjpeg and djpeg doing
//   the same job on the same input, start-up, decoding and writing
//   included. CPU time (user + system) and peak resident memory of the
//   child come from wait4.
//
// Each round runs ours, then the peer, so the shared machine's drift
// touches both. Printed: medians, the ratio of the medians ours / peer and
// the spread of the per-round ratios.
// Whole-process memory target: our peak at most twice the peer's plus one
// decoded page; a 100-page document's peak that of a 10-page one.
//   compare_codecs [rounds] [name filter] [work dir]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

// After <cstdio> and <cstddef>: jpeglib.h uses FILE and size_t unguarded.
#include <jpeglib.h>

#include "bench_timing.h"
#include "formats/jpeg_graphic.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "transforms/bench_page.h"

namespace lumetra::bench {
namespace {

struct TCost {
  double seconds = 0;
  double peakMiB = 0;  // whole process only
};

TCost InProcess(const std::function<void()>& work) {
  return {Seconds(work), 0};
}

// Runs the command (no shell) with its output thrown away: its CPU time
// from wait4, its peak memory from /usr/bin/time. A child forked from this
// large process would report this process's peak as its own (Linux keeps
// the larger of the two across exec), so the tool is started by
// /usr/bin/time, a small process, which reports the tool's own peak.
TCost Spawn(const std::vector<std::string>& command) {
  static const std::string peakFile = "/tmp/quorvex-compare-peak-" + std::to_string(getpid());
  std::vector<std::string> full = {"/usr/bin/time", "-f", "%M", "-o", peakFile};
  full.insert(full.end(), command.begin(), command.end());
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : full) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string line;
    for (const std::string& a : command) line += a + " ";
    std::fprintf(stderr, "failed (%d): %s\n", status, line.c_str());
    std::exit(1);
  }
  long peakKiB = 0;
  if (std::FILE* f = std::fopen(peakFile.c_str(), "r")) {
    if (std::fscanf(f, "%ld", &peakKiB) != 1) peakKiB = 0;
    std::fclose(f);
  }
  auto seconds = [](const timeval& v) { return static_cast<double>(v.tv_sec) + v.tv_usec * 1e-6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), peakKiB / 1024.0};
}

struct TCase {
  std::string name;
  std::function<TCost()> ours, peer;
  std::string peerName;
  double limit;
  // Whole process: the decoded page the memory target allows beyond twice
  // the peer's peak (0: no memory target).
  double pageMiB = 0;
};

// The largest peak of each case run, by name.
std::map<std::string, double> peakMiB;

void RunCases(const std::vector<TCase>& cases, int rounds, const std::string& only, bool memory,
              bool& allMet) {
  for (const TCase& c : cases) {
    if (c.name.find(only) == std::string::npos) continue;
    std::vector<double> ours, peer, ratio, oursMiB, peerMiB;
    for (int r = 0; r < rounds; ++r) {
      const TCost a = c.ours(), b = c.peer();
      ours.push_back(a.seconds);
      peer.push_back(b.seconds);
      ratio.push_back(a.seconds / b.seconds);
      oursMiB.push_back(a.peakMiB);
      peerMiB.push_back(b.peakMiB);
    }
    const double o = Median(ours), p = Median(peer);
    const bool met = c.limit == 0 || o / p <= c.limit;
    allMet = allMet && met;
    std::printf("%-30s %8.1f  %-10s %8.1f %6.2f  %.2f-%.2f", c.name.c_str(), o * 1e3,
                c.peerName.c_str(), p * 1e3, o / p, *std::min_element(ratio.begin(), ratio.end()),
                *std::max_element(ratio.begin(), ratio.end()));
    const double oursPeak = *std::max_element(oursMiB.begin(), oursMiB.end());
    const double peerPeak = *std::max_element(peerMiB.begin(), peerMiB.end());
    peakMiB[c.name] = oursPeak;
    if (memory) std::printf("  %7.1f %7.1f", oursPeak, peerPeak);
    if (c.limit > 0) std::printf("  (target <= %.2f %s)", c.limit, met ? "met" : "missed");
    if (memory && c.pageMiB > 0) {
      const double allowed = 2 * peerPeak + c.pageMiB;
      const bool memoryMet = oursPeak <= allowed;
      allMet = allMet && memoryMet;
      std::printf("  (peak <= %.1f %s)", allowed, memoryMet ? "met" : "missed");
    }
    std::printf("\n");
  }
}

// --- the peers in process ---------------------------------------------------------

// Rows of the page in the peer's order (RGB, grey, or 1-bit with 0 white as
// tiffcp's min-is-white G4 pages), made before any timing.
std::vector<std::uint8_t> PeerRows(const TDibGraphic& page, int& rowBytes) {
  const int w = page.Width(), h = page.Height();
  const int bits = page.ImageFormat() == ifTrueColor ? 24 : page.ImageFormat() == ifGray256 ? 8 : 1;
  rowBytes = (w * bits + 7) / 8;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(rowBytes) * h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = page.ScanLine(y);
    std::uint8_t* d = rows.data() + static_cast<std::size_t>(y) * rowBytes;
    for (int i = 0; i < rowBytes; ++i)
      d[i] = bits == 24  ? s[i - i % 3 + 2 - i % 3]
             : bits == 1 ? static_cast<std::uint8_t>(~s[i])
                         : s[i];
  }
  return rows;
}

void LibtiffWrite(const std::string& path, const std::vector<std::uint8_t>& rows, int rowBytes,
                  int w, int h, int bits, int samples, int compression) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
               samples == 3 ? PHOTOMETRIC_RGB
               : bits == 1  ? PHOTOMETRIC_MINISWHITE
                            : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
  for (int y = 0; y < h; ++y)
    TIFFWriteScanline(
        tif, const_cast<std::uint8_t*>(rows.data()) + static_cast<std::size_t>(y) * rowBytes, y, 0);
  TIFFClose(tif);
}

void LibtiffRead(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(TIFFStripSize(tif)) *
                                   TIFFNumberOfStrips(tif));
  std::size_t at = 0;
  for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
    const tmsize_t got = TIFFReadEncodedStrip(tif, s, pixels.data() + at, -1);
    at += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  TIFFClose(tif);
}

void LibjpegWrite(const std::string& path, const std::vector<std::uint8_t>& rows, int w, int h,
                  int quality) {
  jpeg_compress_struct c{};
  jpeg_error_mgr e{};
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  jpeg_stdio_dest(&c, f);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row =
        const_cast<std::uint8_t*>(rows.data()) + static_cast<std::size_t>(c.next_scanline) * w * 3;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

void LibjpegRead(const std::string& path) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr e{};
  d.err = jpeg_std_error(&e);
  jpeg_create_decompress(&d);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  jpeg_stdio_src(&d, f);
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  const std::size_t stride = static_cast<std::size_t>(d.output_width) * d.output_components;
  std::vector<std::uint8_t> pixels(stride * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = pixels.data() + d.output_scanline * stride;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
}

}  // namespace
}  // namespace lumetra::bench

int main(int argc, char** argv) {
  using namespace lumetra;
  using namespace lumetra::bench;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const std::string only = argc > 2 ? argv[2] : "";
  const std::string dir = argc > 3 ? argv[3] : "/tmp/quorvex-codecs-compare";
  const std::string tool = LUMETRA_TOOL;
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  RegisterBuiltinFormats();
  TIFFSetWarningHandler(nullptr);

  TTiffGraphic colour, grey, bw;
  MakePage(colour);
  MakeGreyPage(colour, grey);
  MakeBlackWhitePage(colour, bw);
  auto path = [&](const std::string& name) { return dir + "/" + name; };
  // Inputs of every job, written once: uncompressed pages, the encoded ones
  // and the PPM that cjpeg reads.
  auto save = [&](TTiffGraphic& page, TTiffCompression compression, const std::string& name) {
    page.SetCompression(compression);
    page.SaveToFile(path(name));
  };
  save(bw, tcNone, "bw-raw.tif");
  save(bw, tcGroup4, "bw-g4.tif");
  save(grey, tcNone, "grey-raw.tif");
  save(grey, tcPackbits, "grey-packbits.tif");
  save(colour, tcNone, "colour-raw.tif");
  if (!WritePortable(colour, path("colour.ppm"))) return 1;
  TJpegGraphic colourJpeg;
  colourJpeg.Assign(&colour);
  colourJpeg.JpegQuality = 70;
  colourJpeg.SaveToFile(path("colour-q70.jpg"));
  {
    TFileStream document(path("bw-g4-100.tif"), fmCreate);
    bw.SetCompression(tcGroup4);
    for (int i = 0; i < 100; ++i) bw.AppendToStream(document);
  }
  {
    TFileStream document(path("bw-g4-10.tif"), fmCreate);
    for (int i = 0; i < 10; ++i) bw.AppendToStream(document);
  }

  auto pageMiB = [](const TDibGraphic& page) {
    return static_cast<double>(page.RowStride()) * page.Height() / (1 << 20);
  };
  const double bwMiB = pageMiB(bw), greyMiB = pageMiB(grey), colourMiB = pageMiB(colour);
  int bwRow = 0, greyRow = 0, colourRow = 0;
  const auto bwRows = PeerRows(bw, bwRow), greyRows = PeerRows(grey, greyRow),
             colourRows = PeerRows(colour, colourRow);
  const int w = kPageWidth, h = kPageHeight;
  auto ourWrite = [&](TTiffGraphic& page, TTiffCompression compression) {
    return [&, compression] {
      page.SetCompression(compression);
      return InProcess([&] { page.SaveToFile(path("ours.tif")); });
    };
  };
  auto ourRead = [&](const std::string& name) {
    return [&, name] {
      return InProcess([&] {
        TTiffGraphic back;
        back.LoadFromFile(path(name));
      });
    };
  };
  auto peerRead = [&](const std::string& name) {
    return [&, name] { return InProcess([&] { LibtiffRead(path(name)); }); };
  };
  const std::vector<TCase> inProcess = {
      {"G4 write", ourWrite(bw, tcGroup4),
       [&] {
         return InProcess([&] {
           LibtiffWrite(path("peer.tif"), bwRows, bwRow, w, h, 1, 1, COMPRESSION_CCITTFAX4);
         });
       },
       "libtiff", 0},
      {"G4 read", ourRead("bw-g4.tif"), peerRead("bw-g4.tif"), "libtiff", 0},
      {"PackBits write (grey)", ourWrite(grey, tcPackbits),
       [&] {
         return InProcess([&] {
           LibtiffWrite(path("peer.tif"), greyRows, greyRow, w, h, 8, 1, COMPRESSION_PACKBITS);
         });
       },
       "libtiff", 0},
      {"PackBits read (grey)", ourRead("grey-packbits.tif"), peerRead("grey-packbits.tif"),
       "libtiff", 0},
      {"JPEG q70 write",
       [&] { return InProcess([&] { colourJpeg.SaveToFile(path("ours.jpg")); }); },
       [&] { return InProcess([&] { LibjpegWrite(path("peer.jpg"), colourRows, w, h, 70); }); },
       "libjpeg", 0},
      {"JPEG read",
       [&] {
         return InProcess([&] {
           TJpegGraphic back;
           back.LoadFromFile(path("colour-q70.jpg"));
         });
       },
       [&] { return InProcess([&] { LibjpegRead(path("colour-q70.jpg")); }); }, "libjpeg", 0},
  };

  auto ours = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), tool);
    return [arguments] { return Spawn(arguments); };
  };
  auto peer = [&](std::vector<std::string> arguments) {
    return [arguments] { return Spawn(arguments); };
  };
  const std::string out = path("out.tif");
  const std::vector<TCase> wholeProcess = {
      {"convert to G4", ours({"convert", path("bw-raw.tif"), out, "--compression", "g4"}),
       peer({"tiffcp", "-c", "g4", path("bw-raw.tif"), out}), "tiffcp", 1.1, bwMiB},
      {"G4 read", ours({"convert", path("bw-g4.tif"), out, "--compression", "none"}),
       peer({"tiffcp", "-c", "none", path("bw-g4.tif"), out}), "tiffcp", 1.1, bwMiB},
      {"PackBits write (grey)",
       ours({"convert", path("grey-raw.tif"), out, "--compression", "packbits"}),
       peer({"tiffcp", "-c", "packbits", path("grey-raw.tif"), out}), "tiffcp", 1.1, greyMiB},
      {"PackBits read (grey)",
       ours({"convert", path("grey-packbits.tif"), out, "--compression", "none"}),
       peer({"tiffcp", "-c", "none", path("grey-packbits.tif"), out}), "tiffcp", 1.1, greyMiB},
      {"JPEG q70 write",
       ours({"convert", path("colour-raw.tif"), path("out.jpg"), "--quality", "70"}),
       peer({"cjpeg", "-quality", "70", "-outfile", path("peer.jpg"), path("colour.ppm")}), "cjpeg",
       1.1, colourMiB},
      {"JPEG read", ours({"convert", path("colour-q70.jpg"), out, "--compression", "none"}),
       peer({"djpeg", "-outfile", path("peer.ppm"), path("colour-q70.jpg")}), "djpeg", 1.1,
       colourMiB},
      {"10-page G4 convert", ours({"convert", path("bw-g4-10.tif"), out}),
       peer({"tiffcp", path("bw-g4-10.tif"), out}), "tiffcp", 0},
      {"100-page G4 convert", ours({"convert", path("bw-g4-100.tif"), out}),
       peer({"tiffcp", path("bw-g4-100.tif"), out}), "tiffcp", 1.1, bwMiB},
      // The scanning path: one page more on a long document costs what it
      // costs on a short one. The document is copied back before each run.
      {"append to 100 pages",
       [&] {
         Spawn({"cp", path("bw-g4-100.tif"), out});
         return Spawn({tool, "append", path("bw-g4.tif"), out});
       },
       [&] {
         Spawn({"cp", path("bw-g4-100.tif"), out});
         return Spawn({"tiffcp", "-a", path("bw-g4.tif"), out});
       },
       "tiffcp -a", 0},
  };

  bool allMet = true;
  std::printf("In process (CPU ms, median)       ours  peer           peer  ratio  spread\n");
  RunCases(inProcess, rounds, only, false, allMet);
  std::printf(
      "\nWhole process (CPU ms, median)    ours  peer           peer  ratio  spread     "
      "peak MiB ours / peer\n");
  RunCases(wholeProcess, rounds, only, true, allMet);
  // A long document costs no more memory than a short one: ten times the
  // pages may not add a page's worth.
  if (peakMiB.count("10-page G4 convert") && peakMiB.count("100-page G4 convert")) {
    const double ten = peakMiB["10-page G4 convert"], hundred = peakMiB["100-page G4 convert"];
    const bool flat = hundred - ten <= bwMiB;
    allMet = allMet && flat;
    std::printf("\nPeak memory with pages: 10 pages %.1f MiB, 100 pages %.1f MiB (flat %s)\n", ten,
                hundred, flat ? "met" : "missed");
  }
  return allMet ? 0 : 2;
}
