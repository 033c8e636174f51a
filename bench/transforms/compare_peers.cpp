// Side by side with libvips (called in this process, one thread, its
// operation cache off) and ImageMagick on the benchmark page. Each round
// runs our transform and then each peer's, so that the shared machine's
// drifting speed affects all alike; times are CPU times of this process.
// Printed: the median of each side, the ratio of the medians ours / peer,
// and the spread of the per-round ratios.
//
// Like for like: the vips operation reads the page from memory and writes
// its whole result into memory, as ours does. ImageMagick has no in-process
// peer here, so its time is its whole process for the operation minus its
// whole process for a plain copy of the same file (marked "process").
#include <sys/resource.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_page.h"
#include "bench_timing.h"
#include "transforms/convolution_transforms.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "transforms/resize_transform.h"

namespace lumetra::bench {
namespace {

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& v) { return static_cast<double>(v.tv_sec) + v.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

// The page as a libvips image over our own copy of its pixels (RGB or one
// band), and an operation on it written out to memory.
struct TVipsPage {
  std::vector<std::uint8_t> pixels;
  VipsImage* image = nullptr;

  TVipsPage(const TDibGraphic& page, bool grey) {
    const int w = page.Width(), h = page.Height(), bands = grey ? 1 : 3;
    pixels.resize(static_cast<std::size_t>(w) * h * bands);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* s = page.ScanLine(y);
      std::uint8_t* d = pixels.data() + static_cast<std::size_t>(y) * w * bands;
      for (int x = 0; x < w * bands; ++x) d[x] = grey ? s[x] : s[x - x % 3 + 2 - x % 3];
    }
    image = vips_image_new_from_memory(pixels.data(), pixels.size(), w, h, bands, VIPS_FORMAT_UCHAR);
  }
  ~TVipsPage() { g_object_unref(image); }
};

// Runs Make (which builds the operation's output image) and renders the
// result into memory, as ApplyOnDest renders ours.
void VipsRun(const std::function<int(VipsImage**)>& make) {
  VipsImage* out = nullptr;
  if (make(&out) != 0) {
    std::fprintf(stderr, "vips: %s\n", vips_error_buffer());
    std::exit(1);
  }
  std::size_t length = 0;
  void* memory = vips_image_write_to_memory(out, &length);
  if (!memory) {
    std::fprintf(stderr, "vips: %s\n", vips_error_buffer());
    std::exit(1);
  }
  g_free(memory);
  g_object_unref(out);
}

struct TPeer {
  std::string name;
  std::function<double()> run;  // seconds of CPU
};

struct TCase {
  std::string name;
  std::function<void()> ours;
  std::vector<TPeer> peers;
  double limit;  // the ratio against the first peer must stay at or below it; 0: none
};

}  // namespace
}  // namespace lumetra::bench

int main(int argc, char** argv) {
  using namespace lumetra;
  using namespace lumetra::bench;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const std::string only = argc > 2 ? argv[2] : "";  // run the cases whose name contains it
  const std::string dir = argc > 3 ? argv[3] : "/tmp/quorvex-transforms-compare";
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  if (VIPS_INIT(argv[0])) return 1;
  vips_concurrency_set(1);
  vips_cache_set_max(0);
  setenv("MAGICK_THREAD_LIMIT", "1", 1);

  TDibGraphic page, bw, grey, dest;
  MakePage(page);
  MakeBlackWhitePage(page, bw);
  TConvertToGrayTransform().ApplyOnDest(page, grey);
  const TVipsPage vpage(page, false), vgrey(grey, true);
  const std::string ppm = dir + "/page.ppm", out = dir + "/out.ppm";
  if (!WritePortable(page, ppm)) return 1;
  const std::string convert =
      (std::system("test -x /usr/bin/convert") == 0 ? "/usr/bin/convert " : "convert ") + ppm + " ";
  auto magick = [&](const std::string& arguments) {
    return TPeer{"ImageMagick (process)", [=] {
                   const double t = RunCommand(convert + arguments + " " + out);
                   const double copy = RunCommand(convert + out);
                   return t < 0 || copy < 0 ? 1e9 : t - copy;
                 }};
  };
  auto vips = [](const std::string& name, std::function<int(VipsImage**)> make) {
    return TPeer{name, [make] { return Seconds([&] { VipsRun(make); }); }};
  };
  auto resize = [&](const TDibGraphic& source, TResampleFilter filter) {
    return [&, filter] {
      TResizeTransform t;
      t.SetInterpolate(true);
      t.SetResampleFilter(filter);
      t.SetNewWidth(kPageWidth / 2);
      t.SetNewHeight(kPageHeight / 2);
      t.ApplyOnDest(source, dest);
    };
  };
  auto vipsResize = [&](const TVipsPage& source, VipsKernel kernel) {
    return vips("vips_resize", [&source, kernel](VipsImage** o) {
      return vips_resize(source.image, o, 0.5, "kernel", kernel, nullptr);
    });
  };
  auto rotate = [&](double angle) {
    return [&, angle] {
      TRotateTransform t;
      t.SetAngle(angle);
      t.ApplyOnDest(page, dest);
    };
  };
  auto vipsRot = [&](VipsAngle angle) {
    return vips("vips_rot", [&, angle](VipsImage** o) { return vips_rot(vpage.image, o, angle, nullptr); });
  };
  auto vipsFlip = [&](VipsDirection direction) {
    return vips("vips_flip",
                [&, direction](VipsImage** o) { return vips_flip(vpage.image, o, direction, nullptr); });
  };
  std::vector<TCase> cases = {
      {"resize 1/2 RGB Triangle", resize(page, rfTriangle), {vipsResize(vpage, VIPS_KERNEL_LINEAR)}, 1.0},
      {"resize 1/2 RGB Lanczos3", resize(page, rfLanczos3), {vipsResize(vpage, VIPS_KERNEL_LANCZOS3)}, 1.0},
      {"resize 1/2 grey Triangle", resize(grey, rfTriangle), {vipsResize(vgrey, VIPS_KERNEL_LINEAR)}, 1.0},
      {"resize 1/2 grey Lanczos3", resize(grey, rfLanczos3), {vipsResize(vgrey, VIPS_KERNEL_LANCZOS3)}, 1.0},
      {"quantize 256 + Floyd-Steinberg",
       [&] {
         TImageFormatTransform t;
         t.SetTargetFormat(ifColor256);
         t.ApplyOnDest(page, dest);
       },
       {magick("-dither FloydSteinberg -colors 256")},
       0.5},
      {"rotate 90", rotate(90), {vipsRot(VIPS_ANGLE_D90)}, 1.0},
      {"rotate 180", rotate(180), {vipsRot(VIPS_ANGLE_D180)}, 1.0},
      {"rotate 270", rotate(270), {vipsRot(VIPS_ANGLE_D270)}, 1.0},
      {"flip horizontal", [&] { TFlipHorizontalTransform().ApplyOnDest(page, dest); },
       {vipsFlip(VIPS_DIRECTION_HORIZONTAL)}, 1.0},
      {"flip vertical", [&] { TFlipVerticalTransform().ApplyOnDest(page, dest); },
       {vipsFlip(VIPS_DIRECTION_VERTICAL)}, 1.0},
      {"rotate 45", rotate(45),
       {vips("vips_rotate", [&](VipsImage** o) { return vips_rotate(vpage.image, o, 45.0, nullptr); })}, 0},
  };

  bool allMet = true;
  std::printf("%-30s %9s  %-22s %9s %7s  %-11s\n", "operation (CPU, median)", "ours ms", "peer", "peer ms",
              "ratio", "spread");
  for (const TCase& c : cases) {
    if (c.name.find(only) == std::string::npos) continue;
    std::vector<double> ours;
    std::vector<std::vector<double>> peer(c.peers.size()), ratio(c.peers.size());
    for (int r = 0; r < rounds; ++r) {
      ours.push_back(Seconds(c.ours));
      for (std::size_t p = 0; p < c.peers.size(); ++p) {
        peer[p].push_back(c.peers[p].run());
        ratio[p].push_back(ours.back() / peer[p].back());
      }
    }
    for (std::size_t p = 0; p < c.peers.size(); ++p) {
      const double o = Median(ours), q = Median(peer[p]), rq = q > 0 ? o / q : 0;
      const bool met = c.limit == 0 || p != 0 || (q > 0 && rq <= c.limit);
      allMet = allMet && met;
      const auto [lo, hi] = std::minmax_element(ratio[p].begin(), ratio[p].end());
      char note[64] = "";
      if (c.limit > 0 && p == 0)
        std::snprintf(note, sizeof note, "  (target <= %.1f %s)", c.limit, met ? "met" : "missed");
      std::printf("%-30s %9.1f  %-22s %9.1f %7.2f  %.2f-%.2f%s\n", p == 0 ? c.name.c_str() : "", o * 1e3,
                  c.peers[p].name.c_str(), q * 1e3, rq, *lo, *hi, note);
    }
  }

  // The viewer's anti-aliased full-page copy has an absolute budget.
  std::vector<double> aa;
  TAntiAliasTransform t;
  t.SetTargetWidth(780);
  t.SetTargetHeight(1103);
  for (int r = 0; r < 5 * rounds; ++r) aa.push_back(Seconds([&] { t.ApplyOnDest(bw, dest); }));
  const double a = Median(aa);
  const bool aaMet = a < 0.010;
  allMet = allMet && aaMet;
  std::printf("%-30s %9.2f  %-22s %9s %7s  %-11s  (target < 10 ms %s)\n", "anti-alias 1-bit to 780x1103",
              a * 1e3, "-", "-", "-", "", aaMet ? "met" : "missed");
  vips_shutdown();
  return allMet ? 0 : 2;
}
