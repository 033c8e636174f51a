#include "transforms/resize_transform.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "transforms/pixel_rows.h"
#include "transforms/stretch.h"

namespace lumetra {

namespace {

struct TFilterInfo {
  const char* name;
  float support;
};
constexpr TFilterInfo kFilters[] = {
    {"Triangle", 1.0f}, {"Hermite", 1.0f},  {"Bell", 1.5f},
    {"B-Spline", 2.0f}, {"Lanczos3", 3.0f}, {"Mitchell", 2.0f},
};

// sin(pi * t) from its Taylor series after reducing t to [-1/2, 1/2]: plain
// double arithmetic, so both builds give the same bits (the C libraries'
// sinf do not agree in the last place).
double SinPi(double t) {
  const double n = std::floor(t + 0.5);
  const double u = (t - n) * std::numbers::pi;  // |u| <= pi / 2
  const double u2 = u * u;
  double term = u, sum = u;
  for (int k = 1; k <= 12; ++k) {
    term *= -u2 / ((2.0 * k) * (2.0 * k + 1.0));
    sum += term;
  }
  return std::fmod(n, 2.0) == 0.0 ? sum : -sum;
}

float Sinc(float t) {
  if (t == 0.0f) return 1.0f;
  return static_cast<float>(SinPi(t) / (static_cast<double>(t) * std::numbers::pi));
}

}  // namespace

std::string ResampleFilterName(int filter) {
  return filter >= 0 && filter <= rfMitchell ? kFilters[filter].name : "";
}

float ResampleSupport(TResampleFilter filter) {
  return filter <= rfMitchell ? kFilters[filter].support : 1.0f;
}

float ResampleKernel(TResampleFilter filter, float x) {
  const float a = std::fabs(x);
  switch (filter) {
    case rfHermite:
      return a < 1.0f ? (2.0f * a - 3.0f) * a * a + 1.0f : 0.0f;
    case rfBell:
      if (a < 0.5f) return 0.75f - a * a;
      if (a < 1.5f) {
        const float t = a - 1.5f;
        return 0.5f * t * t;
      }
      return 0.0f;
    case rfBSpline:
      if (a < 1.0f) return 0.5f * a * a * a - a * a + 2.0f / 3.0f;
      if (a < 2.0f) {
        const float t = 2.0f - a;
        return t * t * t / 6.0f;
      }
      return 0.0f;
    case rfLanczos3:
      return a < 3.0f ? Sinc(a) * Sinc(a / 3.0f) : 0.0f;
    case rfMitchell:
      if (a < 1.0f) return (7.0f * a * a * a - 12.0f * a * a + 16.0f / 3.0f) / 6.0f;
      if (a < 2.0f)
        return (-(7.0f / 3.0f) * a * a * a + 12.0f * a * a - 20.0f * a + 32.0f / 3.0f) / 6.0f;
      return 0.0f;
    default:
      return a < 1.0f ? 1.0f - a : 0.0f;
  }
}

namespace {

// Contributors of every output pixel along one axis, flattened: the entries
// of output i are [first[i], first[i + 1]).
struct TContributors {
  std::vector<int> first;
  std::vector<int> pixel;
  std::vector<float> weight;
};

TContributors BuildContributors(int size, int size2, TResampleFilter filter) {
  const float support = ResampleSupport(filter);
  const float scale = size == 1 ? static_cast<float>(size2) / static_cast<float>(size)
                                : static_cast<float>(size2 - 1) / static_cast<float>(size - 1);
  TContributors list;
  list.first.reserve(static_cast<std::size_t>(size2) + 1);
  for (int i = 0; i < size2; ++i) {
    list.first.push_back(static_cast<int>(list.pixel.size()));
    const float centre = static_cast<float>(i) / scale;
    const float width = scale >= 1.0f ? support : support / scale;
    const long long left = static_cast<long long>(std::floor(centre - width));
    const long long right = static_cast<long long>(std::ceil(centre + width));
    for (long long j = left; j <= right; ++j) {
      const float distance = centre - static_cast<float>(j);
      const float w = scale >= 1.0f ? ResampleKernel(filter, distance)
                                    : ResampleKernel(filter, distance * scale) * scale;
      if (w == 0.0f) continue;
      // Mirrored at both edges; an index still outside contributes nothing
      // (its weight counts as 0), so it is left out.
      const long long n = j < 0 ? -j : j >= size ? 2LL * size - 1 - j : j;
      if (n < 0 || n >= size) continue;
      list.pixel.push_back(static_cast<int>(n));
      list.weight.push_back(w);
    }
  }
  list.first.push_back(static_cast<int>(list.pixel.size()));
  return list;
}

// Round to nearest, ties to even, limited to 0..255. Clamping to -1..256
// first changes nothing after the final limit and keeps the float in the
// range where adding 1.5 * 2^23 rounds it exactly.
inline std::uint8_t ToByte(float sum) {
  float v = sum < -1.0f ? -1.0f : sum > 256.0f ? 256.0f : sum;
  v = (v + 12582912.0f) - 12582912.0f;
  return static_cast<std::uint8_t>(v < 0.0f ? 0 : v > 255.0f ? 255 : static_cast<int>(v));
}

}  // namespace

void TResizeTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  const TImageFormat format = forceFormat_ ? targetFormat_ : source.ImageFormat();
  const TLogPalette* palette = format == source.ImageFormat() ? rows::PaletteOf(source) : nullptr;
  // Refused sizes are checked before Dest is touched.
  if (interpolate_) {
    if (source.Width() < 1 || source.Height() < 1 || source.Empty())
      throw ELumetraError("Source graphic too small");
    if (newWidth_ <= 1 || newHeight_ <= 1) throw ELumetraError("Destination graphic too small");
  }
  StartProgress();
  rows::NewLike(dest, source, newWidth_, newHeight_, format, palette);
  if (!interpolate_) {
    Progress(50, 0, 100);
    const bool halftone = source.ImageFormat() == ifTrueColor &&
                          static_cast<long long>(source.Width()) * source.Height() > 1024;
    StretchImage(source, dest, halftone ? smHalftone : smColorOnColor);
  } else {
    Resample(source, dest);
  }
  EndProgress();
}

void TResizeTransform::Resample(const TDibGraphic& source, TDibGraphic& dest) {
  const int w = source.Width(), h = source.Height();
  const int w2 = dest.Width(), h2 = dest.Height();
  const std::size_t rowBytes2 = 3 * static_cast<std::size_t>(w2);

  // Horizontal pass into a true-colour work image of W2 x H. Each source row
  // is turned into floats once, so the taps do not convert every byte again.
  const TContributors across = BuildContributors(w, w2, filter_);
  Progress(20, 0, 100);
  std::vector<std::uint8_t> work(rowBytes2 * static_cast<std::size_t>(h));
  std::vector<float> line(3 * static_cast<std::size_t>(w));
  std::vector<std::uint32_t> colours(source.ImageFormat() == ifTrueColor ? 0 : static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    if (colours.empty()) {
      const std::uint8_t* s = source.ScanLine(y);
      for (std::size_t k = 0; k < line.size(); ++k) line[k] = s[k];
    } else {
      rows::ReadColours(source, y, colours.data());
      for (std::size_t x = 0; x < colours.size(); ++x) {
        line[3 * x] = static_cast<float>(colours[x] & 0xFF);
        line[3 * x + 1] = static_cast<float>((colours[x] >> 8) & 0xFF);
        line[3 * x + 2] = static_cast<float>((colours[x] >> 16) & 0xFF);
      }
    }
    std::uint8_t* out = work.data() + rowBytes2 * static_cast<std::size_t>(y);
    const float* s = line.data();
    const int* first = across.first.data();
    const int* pixel = across.pixel.data();
    const float* weight = across.weight.data();
    for (int i = 0; i < w2; ++i) {
      float b = 0.0f, g = 0.0f, r = 0.0f;
      for (int k = first[i]; k < first[i + 1]; ++k) {
        const float wt = weight[k];
        const float* p = s + 3 * pixel[k];
        b += wt * p[0];
        g += wt * p[1];
        r += wt * p[2];
      }
      out[3 * i] = ToByte(b);
      out[3 * i + 1] = ToByte(g);
      out[3 * i + 2] = ToByte(r);
    }
    Progress(20 + 20LL * y / std::max(1, h - 1), 0, 100);
  }

  // Vertical pass: each result row sums whole work rows, contributor by
  // contributor, which keeps every pixel's order of additions. Work rows are
  // turned into floats once and kept while neighbouring result rows need
  // them.
  const TContributors down = BuildContributors(h, h2, filter_);
  Progress(60, 0, 100);
  int maxTaps = 1;
  for (int j = 0; j < h2; ++j) maxTaps = std::max(maxTaps, down.first[j + 1] - down.first[j]);
  const std::size_t slots = static_cast<std::size_t>(2 * maxTaps + 2);
  std::vector<float> cache(slots * rowBytes2);
  std::vector<int> cachedRow(slots, -1);
  auto workRow = [&](int n) -> const float* {
    const std::size_t slot = static_cast<std::size_t>(n) % slots;
    float* f = cache.data() + slot * rowBytes2;
    if (cachedRow[slot] != n) {
      const std::uint8_t* p = work.data() + rowBytes2 * static_cast<std::size_t>(n);
      for (std::size_t x = 0; x < rowBytes2; ++x) f[x] = p[x];
      cachedRow[slot] = n;
    }
    return f;
  };
  std::vector<float> sums(rowBytes2);
  std::vector<std::uint32_t> outColours(dest.ImageFormat() == ifTrueColor ? 0 : static_cast<std::size_t>(w2));
  std::unique_ptr<TNearestColourIndex> nearest;
  if (!outColours.empty()) nearest = std::make_unique<TNearestColourIndex>(*dest.LogPalette());
  for (int j = 0; j < h2; ++j) {
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int k = down.first[j]; k < down.first[j + 1]; ++k) {
      const float wt = down.weight[static_cast<std::size_t>(k)];
      const float* p = workRow(down.pixel[static_cast<std::size_t>(k)]);
      float* sum = sums.data();
      for (std::size_t x = 0; x < rowBytes2; ++x) sum[x] += wt * p[x];
    }
    if (outColours.empty()) {
      std::uint8_t* out = dest.ScanLine(j);
      for (std::size_t x = 0; x < rowBytes2; ++x) out[x] = ToByte(sums[x]);
    } else {
      for (int i = 0; i < w2; ++i)
        outColours[static_cast<std::size_t>(i)] =
            rows::Rgb(ToByte(sums[3 * i + 2]), ToByte(sums[3 * i + 1]), ToByte(sums[3 * i]));
      rows::WriteColours(dest, j, outColours.data(), nearest.get());
    }
    Progress(60 + 40LL * j / std::max(1, h2 - 1), 0, 100);
  }
}

}  // namespace lumetra
