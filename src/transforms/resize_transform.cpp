#include "transforms/resize_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
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

// Four single-precision lanes (blue, green, red and a spare one): one pixel
// of a colour line, summed as a whole. Each lane rounds as a scalar would,
// so the vector form changes no bit of the result.
typedef float TFloat4 __attribute__((vector_size(16)));

// The taps of every output pixel along one axis, a fixed number per output
// over consecutive positions of a padded line: output i reads positions
// start[i] .. start[i] + taps - 1, where position p holds source pixel
// p - pad mirrored at both edges. Positions past a window, zeros of the
// kernel and mirrored positions still outside the source weigh 0; adding
// their products leaves every sum as it was.
struct TTaps {
  int taps = 0;
  int pad = 0;
  int length = 0;
  std::vector<int> start;
  std::vector<float> weight;  // taps per output
  std::vector<int> source;    // position -> source pixel, -1 outside
};

TTaps BuildTaps(int size, int size2, TResampleFilter filter) {
  const float support = ResampleSupport(filter);
  const float scale = size == 1 ? static_cast<float>(size2) / static_cast<float>(size)
                                : static_cast<float>(size2 - 1) / static_cast<float>(size - 1);
  const float width = scale >= 1.0f ? support : support / scale;
  auto window = [&](int i, long long& left, long long& right) {
    const float centre = static_cast<float>(i) / scale;
    left = static_cast<long long>(std::floor(centre - width));
    right = static_cast<long long>(std::ceil(centre + width));
  };
  long long taps = 1, minLeft = 0, maxEnd = size - 1;
  for (int i = 0; i < size2; ++i) {
    long long left, right;
    window(i, left, right);
    taps = std::max(taps, right - left + 1);
    minLeft = std::min(minLeft, left);
  }
  for (int i = 0; i < size2; ++i) {
    long long left, right;
    window(i, left, right);
    maxEnd = std::max(maxEnd, left + taps - 1);
  }
  const std::uint64_t length = static_cast<std::uint64_t>(maxEnd - minLeft + 1);
  const std::size_t weights =
      rows::WorkCount(static_cast<std::uint64_t>(taps) * static_cast<std::uint64_t>(size2), sizeof(float));
  rows::WorkCount(length, sizeof(TFloat4));

  TTaps t;
  t.taps = static_cast<int>(taps);
  t.pad = static_cast<int>(-minLeft);
  t.length = static_cast<int>(length);
  t.start.resize(static_cast<std::size_t>(size2));
  t.weight.assign(weights, 0.0f);
  t.source.resize(length);
  for (int p = 0; p < t.length; ++p) {
    const long long j = p + minLeft;
    const long long n = j < 0 ? -j : j >= size ? 2LL * size - 1 - j : j;
    t.source[static_cast<std::size_t>(p)] = n >= 0 && n < size ? static_cast<int>(n) : -1;
  }
  for (int i = 0; i < size2; ++i) {
    long long left, right;
    window(i, left, right);
    const float centre = static_cast<float>(i) / scale;
    t.start[static_cast<std::size_t>(i)] = static_cast<int>(left - minLeft);
    float* w = t.weight.data() + static_cast<std::size_t>(i) * t.taps;
    for (long long j = left; j <= right; ++j) {
      const float distance = centre - static_cast<float>(j);
      const float k = scale >= 1.0f ? ResampleKernel(filter, distance)
                                    : ResampleKernel(filter, distance * scale) * scale;
      if (t.source[static_cast<std::size_t>(j - minLeft)] >= 0) w[j - left] = k;
    }
  }
  return t;
}

// Round to nearest, ties to even, limited to 0..255; written without
// branches so that whole rows of it are vectorised. Adding and removing
// 1.5 * 2^23 rounds a float of 0..255 exactly.
inline std::uint8_t ToByte(float sum) {
  float v = sum < 0.0f ? 0.0f : sum;
  v = v > 255.0f ? 255.0f : v;
  v = (v + 12582912.0f) - 12582912.0f;
  return static_cast<std::uint8_t>(static_cast<int>(v));
}

inline float Limit(float v) {
  v = v < 0.0f ? 0.0f : v;
  return v > 255.0f ? 255.0f : v;
}

// One horizontal pass of a grey line: four outputs at a time, so their
// independent sums overlap in the pipeline; each still adds its taps in
// order. Results are limited to 0..255 but keep their fraction.
void ReduceGreyLine(const TTaps& across, const float* line, float* out, int w2) {
  const int taps = across.taps;
  const int* start = across.start.data();
  const float* weight = across.weight.data();
  int i = 0;
  for (; i + 4 <= w2; i += 4) {
    const float* p0 = line + start[i];
    const float* p1 = line + start[i + 1];
    const float* p2 = line + start[i + 2];
    const float* p3 = line + start[i + 3];
    const float* w0 = weight + static_cast<std::size_t>(i) * taps;
    const float* w1 = w0 + taps;
    const float* w2p = w1 + taps;
    const float* w3 = w2p + taps;
    float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f;
    for (int k = 0; k < taps; ++k) {
      a0 += w0[k] * p0[k];
      a1 += w1[k] * p1[k];
      a2 += w2p[k] * p2[k];
      a3 += w3[k] * p3[k];
    }
    out[i] = Limit(a0);
    out[i + 1] = Limit(a1);
    out[i + 2] = Limit(a2);
    out[i + 3] = Limit(a3);
  }
  for (; i < w2; ++i) {
    const float* p = line + start[i];
    const float* w = weight + static_cast<std::size_t>(i) * taps;
    float a = 0.0f;
    for (int k = 0; k < taps; ++k) a += w[k] * p[k];
    out[i] = Limit(a);
  }
}

// The same for a colour line of four-lane pixels, two outputs at a time.
// Out holds three floats per pixel and one spare float at its end, which
// the last four-lane store overruns.
void ReduceColourLine(const TTaps& across, const TFloat4* line, float* out, int w2) {
  const int taps = across.taps;
  const int* start = across.start.data();
  const float* weight = across.weight.data();
  const TFloat4 zero = {0.0f, 0.0f, 0.0f, 0.0f}, top = {255.0f, 255.0f, 255.0f, 255.0f};
  auto limit = [&](TFloat4 v) {
    v = v < zero ? zero : v;
    return v > top ? top : v;
  };
  int i = 0;
  for (; i + 2 <= w2; i += 2) {
    const TFloat4* p0 = line + start[i];
    const TFloat4* p1 = line + start[i + 1];
    const float* w0 = weight + static_cast<std::size_t>(i) * taps;
    const float* w1 = w0 + taps;
    TFloat4 a0 = zero, a1 = zero;
    for (int k = 0; k < taps; ++k) {
      a0 += w0[k] * p0[k];
      a1 += w1[k] * p1[k];
    }
    a0 = limit(a0);
    a1 = limit(a1);
    std::memcpy(out + 3 * i, &a0, sizeof a0);
    std::memcpy(out + 3 * i + 3, &a1, sizeof a1);
  }
  for (; i < w2; ++i) {
    const TFloat4* p = line + start[i];
    const float* w = weight + static_cast<std::size_t>(i) * taps;
    TFloat4 a = zero;
    for (int k = 0; k < taps; ++k) a += w[k] * p[k];
    a = limit(a);
    std::memcpy(out + 3 * i, &a, sizeof a);
  }
}

// Whether every colour of the source is a grey (red = green = blue), so one
// channel carries the whole image: grey formats and grey palettes.
bool IsGreyImage(const TDibGraphic& g) {
  if (g.ImageFormat() == ifTrueColor) return false;
  const int count = PaletteEntryCount(g.ImageFormat());
  for (int i = 0; i < count; ++i) {
    const std::uint32_t c = rows::EntryColour(g, i);
    if (rows::Red(c) != rows::Green(c) || rows::Green(c) != rows::Blue(c)) return false;
  }
  return true;
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
    try {
      Resample(source, dest);
    } catch (const std::bad_alloc&) {
      throw ELumetraError("Out of resources");
    }
  }
  EndProgress();
}

// Two passes, horizontal then vertical, streamed: a source row is reduced
// across when the first result row needs it and kept, unrounded, in a ring
// of as many rows as one result row reads (never more than the source has).
void TResizeTransform::Resample(const TDibGraphic& source, TDibGraphic& dest) {
  const int w = source.Width(), h = source.Height();
  const int w2 = dest.Width(), h2 = dest.Height();
  const bool grey = IsGreyImage(source);
  const int channels = grey ? 1 : 3;
  const std::uint64_t rowFloats = static_cast<std::uint64_t>(w2) * channels + 1;

  const TTaps across = BuildTaps(w, w2, filter_);
  Progress(20, 0, 100);
  const TTaps down = BuildTaps(h, h2, filter_);
  const int slots = std::min(h, down.taps);
  const std::size_t ringFloats = rows::WorkCount(rowFloats * static_cast<std::uint64_t>(slots), sizeof(float));
  Progress(60, 0, 100);

  // Source rows as floats over the padded line: grey levels, or pixels of
  // four lanes. Indexed sources go through their palette.
  std::vector<float> greyLine(grey ? static_cast<std::size_t>(across.length) : 0);
  std::vector<TFloat4> colourLine(grey ? 0 : static_cast<std::size_t>(across.length));
  std::vector<float> levels(256, 0.0f);
  std::vector<std::uint32_t> colours(source.ImageFormat() == ifTrueColor ? 0 : static_cast<std::size_t>(w));
  const int bits = rows::Bits(source);
  if (grey)
    for (int i = 0; i < PaletteEntryCount(source.ImageFormat()); ++i)
      levels[static_cast<std::size_t>(i)] = static_cast<float>(rows::Red(rows::EntryColour(source, i)));
  bool identity = grey;  // the standard grey palette: levels are indices
  for (int i = 0; identity && i < PaletteEntryCount(source.ImageFormat()); ++i)
    identity = levels[static_cast<std::size_t>(i)] == static_cast<float>(i);
  identity = identity && PaletteEntryCount(source.ImageFormat()) == 256;
  const int* position = across.source.data();
  // Padded positions outside the source row, filled from their mirrors.
  std::vector<int> edges;
  for (int p = 0; p < across.length; ++p)
    if (p < across.pad || p >= across.pad + w) edges.push_back(p);
  auto reduceRow = [&](int y, float* out) {
    const std::uint8_t* s = source.ScanLine(y);
    if (grey) {
      float* line = greyLine.data();
      float* middle = line + across.pad;
      if (bits == 8 && identity) {
        for (int x = 0; x < w; ++x) middle[x] = s[x];
      } else if (bits == 8) {
        for (int x = 0; x < w; ++x) middle[x] = levels[s[x]];
      } else {
        for (int x = 0; x < w; ++x) middle[x] = levels[static_cast<std::size_t>(rows::GetIndex(s, bits, x))];
      }
      for (const int p : edges) line[p] = position[p] < 0 ? 0.0f : middle[position[p]];
      ReduceGreyLine(across, line, out, w2);
    } else {
      TFloat4* line = colourLine.data();
      TFloat4* middle = line + across.pad;
      if (colours.empty()) {
        for (int x = 0; x < w; ++x, s += 3) middle[x] = TFloat4{float(s[0]), float(s[1]), float(s[2]), 0.0f};
      } else {
        rows::ReadColours(source, y, colours.data());
        for (int x = 0; x < w; ++x) {
          const std::uint32_t c = colours[static_cast<std::size_t>(x)];
          middle[x] = TFloat4{float(rows::Blue(c)), float(rows::Green(c)), float(rows::Red(c)), 0.0f};
        }
      }
      for (const int p : edges) line[p] = position[p] < 0 ? TFloat4{0.0f, 0.0f, 0.0f, 0.0f} : middle[position[p]];
      ReduceColourLine(across, line, out, w2);
    }
  };

  std::vector<float> ring(ringFloats);
  std::vector<int> ringRow(static_cast<std::size_t>(slots), -1);
  auto reducedRow = [&](int y) -> const float* {
    const std::size_t slot = static_cast<std::size_t>(y % slots);
    float* row = ring.data() + slot * rowFloats;
    if (ringRow[slot] != y) {
      reduceRow(y, row);
      ringRow[slot] = y;
    }
    return row;
  };

  const std::size_t sumCount = static_cast<std::size_t>(w2) * channels;
  std::vector<float> sums(sumCount);
  const bool trueColour = dest.ImageFormat() == ifTrueColor;
  std::vector<std::uint32_t> outColours(trueColour || grey ? 0 : static_cast<std::size_t>(w2));
  std::unique_ptr<TNearestColourIndex> nearest;
  if (!trueColour) nearest = std::make_unique<TNearestColourIndex>(*dest.LogPalette());
  // Grey results into an indexed image: the nearest entry of each level.
  std::vector<int> levelIndex(256, -1);
  const int destBits = rows::Bits(dest);
  std::vector<std::uint8_t> bytes(sumCount);
  for (int j = 0; j < h2; ++j) {
    const float* weight = down.weight.data() + static_cast<std::size_t>(j) * down.taps;
    const int first = down.start[static_cast<std::size_t>(j)];
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int k = 0; k < down.taps; ++k) {
      const int y = down.source[static_cast<std::size_t>(first + k)];
      const float wt = weight[k];
      if (y < 0 || wt == 0.0f) continue;
      const float* p = reducedRow(y);
      float* sum = sums.data();
      for (std::size_t x = 0; x < sumCount; ++x) sum[x] += wt * p[x];
    }
    for (std::size_t x = 0; x < sumCount; ++x) bytes[x] = ToByte(sums[x]);
    std::uint8_t* out = dest.ScanLine(j);
    if (trueColour) {
      if (grey) {
        for (int x = 0; x < w2; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = bytes[static_cast<std::size_t>(x)];
      } else {
        std::memcpy(out, bytes.data(), sumCount);
      }
    } else if (grey) {
      for (int x = 0; x < w2; ++x) {
        int& index = levelIndex[bytes[static_cast<std::size_t>(x)]];
        if (index < 0) {
          const int v = bytes[static_cast<std::size_t>(x)];
          index = nearest->Find(v, v, v);
        }
        rows::SetIndex(out, destBits, x, index);
      }
    } else {
      for (int x = 0; x < w2; ++x)
        outColours[static_cast<std::size_t>(x)] =
            rows::Rgb(bytes[3 * x + 2], bytes[3 * x + 1], bytes[3 * x]);
      rows::WriteColours(dest, j, outColours.data(), nearest.get());
    }
    Progress(60 + 40LL * j / std::max(1, h2 - 1), 0, 100);
  }
}

}  // namespace lumetra
