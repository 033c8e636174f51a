// Side-by-side comparison with ImageMagick and libvips on the benchmark page.
// Each round times our transform in this process and each peer's whole
// process for the operation and for a plain load/save copy of the same file,
// in turn, so that the machine's drifting speed affects all alike. Times are
// CPU times (user + system; everything runs on one thread), which other
// work on this shared machine disturbs far less than wall-clock times. A
// peer's operation time is its best operation run minus its best copy run;
// the ratio printed is ours / peer.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_page.h"
#include "transforms/convolution_transforms.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/resize_transform.h"

namespace lumetra::bench {
namespace {

double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& v) { return static_cast<double>(v.tv_sec) + v.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Seconds(const std::function<void()>& work) {
  const double start = ProcessCpu();
  work();
  return ProcessCpu() - start;
}

// CPU time of the command's processes (the shell and the tool it waits for).
double RunCommand(const std::string& command) {
  const double start = ChildrenCpu();
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  const double t = ChildrenCpu() - start;
  if (status != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    return -1;
  }
  return t;
}

struct TPeer {
  std::string name;
  std::string operation;  // command line of the operation
  std::string copy;       // the same load and save without the operation
};

struct TCase {
  std::string name;
  std::function<void()> ours;
  std::vector<TPeer> peers;
  double limit;  // the ratio against the first peer must stay at or below it; 0: none
};

std::string Convert() {
  // The real binary, not a wrapper script in front of it.
  return std::system("test -x /usr/bin/convert") == 0 ? "/usr/bin/convert" : "convert";
}

}  // namespace
}  // namespace lumetra::bench

int main(int argc, char** argv) {
  using namespace lumetra;
  using namespace lumetra::bench;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string only = argc > 2 ? argv[2] : "";  // run the cases whose name contains it
  const std::string dir = argc > 3 ? argv[3] : "/tmp/quorvex-transforms-compare";
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  setenv("MAGICK_THREAD_LIMIT", "1", 1);
  setenv("VIPS_CONCURRENCY", "1", 1);

  TDibGraphic page, bw, dest;
  MakePage(page);
  MakeBlackWhitePage(page, bw);
  const std::string ppm = dir + "/page.ppm", pbm = dir + "/page.pbm";
  const std::string out = dir + "/out.ppm";
  if (!WritePortable(page, ppm) || !WritePortable(bw, pbm)) return 1;

  const std::string im = Convert() + " " + ppm + " ";
  const std::string imCopy = im + out;
  // libvips reads its own format by mapping it, which keeps its copy cheap and
  // the difference to the operation well above the noise.
  const std::string vpage = dir + "/page.v", vout = dir + "/out.v";
  if (RunCommand("vips copy " + ppm + " " + vpage) < 0) return 1;
  const std::string vipsCopy = "vips copy " + vpage + " " + vout;
  auto vips = [&](const std::string& operation, const std::string& arguments) {
    return "vips " + operation + " " + vpage + " " + vout + (arguments.empty() ? "" : " " + arguments);
  };
  auto resize = [&](TResampleFilter filter) {
    return [&, filter] {
      TResizeTransform t;
      t.SetInterpolate(true);
      t.SetResampleFilter(filter);
      t.SetNewWidth(kPageWidth / 2);
      t.SetNewHeight(kPageHeight / 2);
      t.ApplyOnDest(page, dest);
    };
  };
  auto rotate = [&](double angle) {
    return [&, angle] {
      TRotateTransform t;
      t.SetAngle(angle);
      t.ApplyOnDest(page, dest);
    };
  };
  std::vector<TCase> cases = {
      {"resize 1/2 Triangle", resize(rfTriangle),
       {{"ImageMagick", im + "-filter Triangle -resize 50% " + out, imCopy},
        {"vips", vips("resize", "0.5 --kernel linear"), vipsCopy}},
       1.0},
      {"resize 1/2 Lanczos3", resize(rfLanczos3),
       {{"ImageMagick", im + "-filter Lanczos -resize 50% " + out, imCopy},
        {"vips", vips("resize", "0.5 --kernel lanczos3"), vipsCopy}},
       1.0},
      {"quantize 256 + Floyd-Steinberg",
       [&] {
         TImageFormatTransform t;
         t.SetTargetFormat(ifColor256);
         t.ApplyOnDest(page, dest);
       },
       {{"ImageMagick", im + "-dither FloydSteinberg -colors 256 " + out, imCopy}},
       0.5},
      {"rotate 90", rotate(90),
       {{"vips rot", vips("rot", "d90"), vipsCopy},
        {"ImageMagick", im + "-rotate 90 " + out, imCopy}},
       1.0},
      {"rotate 270", rotate(270), {{"vips rot", vips("rot", "d270"), vipsCopy}}, 1.0},
      {"rotate 180", rotate(180), {{"vips rot", vips("rot", "d180"), vipsCopy}}, 1.0},
      {"flip horizontal", [&] { TFlipHorizontalTransform().ApplyOnDest(page, dest); },
       {{"vips rot", vips("rot", "d90"), vipsCopy},
        {"vips flip", vips("flip", "horizontal"), vipsCopy}},
       1.0},
      {"flip vertical", [&] { TFlipVerticalTransform().ApplyOnDest(page, dest); },
       {{"vips rot", vips("rot", "d90"), vipsCopy},
        {"vips flip", vips("flip", "vertical"), vipsCopy}},
       1.0},
      {"rotate 45", rotate(45), {{"vips rotate", vips("rotate", "45"), vipsCopy}}, 0},
  };

  bool allMet = true;
  std::printf("%-32s %10s  %-12s %10s %8s\n", "operation (CPU time)", "ours ms", "peer", "peer ms", "ratio");
  for (const TCase& c : cases) {
    if (c.name.find(only) == std::string::npos) continue;
    double ours = 1e9;
    std::vector<double> op(c.peers.size(), 1e9), copy(c.peers.size(), 1e9);
    for (int r = 0; r < rounds; ++r) {
      ours = std::min(ours, Seconds(c.ours));
      for (std::size_t p = 0; p < c.peers.size(); ++p) {
        const double t = RunCommand(c.peers[p].operation);
        const double u = RunCommand(c.peers[p].copy);
        if (t >= 0) op[p] = std::min(op[p], t);
        if (u >= 0) copy[p] = std::min(copy[p], u);
      }
    }
    for (std::size_t p = 0; p < c.peers.size(); ++p) {
      const double peer = op[p] - copy[p];
      const double ratio = peer > 0 ? ours / peer : 0;
      const bool met = c.limit == 0 || p != 0 || (peer > 0 && ratio <= c.limit);
      if (!met) allMet = false;
      char note[64] = "";
      if (c.limit > 0 && p == 0)
        std::snprintf(note, sizeof note, "  (target <= %.1f %s)", c.limit, met ? "met" : "missed");
      std::printf("%-32s %10.1f  %-12s %10.1f %8.2f%s\n", p == 0 ? c.name.c_str() : "", ours * 1e3,
                  c.peers[p].name.c_str(), peer * 1e3, ratio, note);
    }
  }

  // The viewer's anti-aliased full-page copy has an absolute budget.
  double aa = 1e9;
  TAntiAliasTransform t;
  t.SetTargetWidth(780);
  t.SetTargetHeight(1103);
  for (int r = 0; r < 5 * rounds; ++r) aa = std::min(aa, Seconds([&] { t.ApplyOnDest(bw, dest); }));
  const bool aaMet = aa < 0.010;
  allMet = allMet && aaMet;
  std::printf("%-32s %10.2f  %-12s %10s %8s  (target < 10 ms %s)\n", "anti-alias 1-bit to 780x1103",
              aa * 1e3, "-", "-", "-", aaMet ? "met" : "missed");
  return allMet ? 0 : 2;
}
