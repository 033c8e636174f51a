#include "transforms/convolution_transforms.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "transforms/pixel_rows.h"

namespace lumetra {

// --- convolution ---------------------------------------------------------------

TConvolutionTransform::TConvolutionTransform() {
  std::memset(kernel_, 0, sizeof kernel_);
  kernel_[1][1] = 1;
}

void TConvolutionTransform::SetKernel(const std::int8_t (&values)[9]) {
  for (int i = 0; i < 9; ++i) kernel_[i / 3][i % 3] = values[i];
}

void TConvolutionTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  const int w = source.Width(), h = source.Height();
  if (w < 3 || h < 3) {
    dest.Assign(&source);
    return;
  }
  StartProgress();
  PrepareKernel();
  rows::NewLike(dest, source, w, h, ifTrueColor, nullptr);
  if (divisor_ == 0) divisor_ = 1;
  const int divisor = divisor_;
  int k[9];
  for (int i = 0; i < 9; ++i) k[i] = kernel_[i / 3][i % 3];

  // Three source rows as separate channels, rolled down the image.
  const std::size_t n = static_cast<std::size_t>(w);
  std::vector<std::uint32_t> colours(n);
  std::vector<int> channels(9 * n);  // [row 0..2][red, green, blue][x]
  auto load = [&](int y, int slot) {
    rows::ReadColours(source, y, colours.data());
    int* r = &channels[(3 * slot) * n];
    int* g = r + n;
    int* b = g + n;
    for (std::size_t x = 0; x < n; ++x) {
      r[x] = rows::Red(colours[x]);
      g[x] = rows::Green(colours[x]);
      b[x] = rows::Blue(colours[x]);
    }
  };
  // The border keeps the source's colours.
  rows::ReadColours(source, 0, colours.data());
  rows::WriteColours(dest, 0, colours.data());
  rows::ReadColours(source, h - 1, colours.data());
  rows::WriteColours(dest, h - 1, colours.data());

  int slotOf[3] = {0, 1, 2};  // slot holding rows y-1, y, y+1
  load(0, 0);
  load(1, 1);
  for (int y = 1; y <= h - 2; ++y) {
    load(y + 1, slotOf[2]);
    std::uint8_t* out = dest.ScanLine(y);
    const int* src[3][3];
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c) src[i][c] = &channels[(3 * slotOf[i] + c) * n];
    for (int c = 0; c < 3; ++c) {
      const int* top = src[0][c];
      const int* mid = src[1][c];
      const int* bot = src[2][c];
      std::uint8_t* o = out + (2 - c);  // BGR order
      o[0] = static_cast<std::uint8_t>(mid[0]);
      o[3 * (w - 1)] = static_cast<std::uint8_t>(mid[w - 1]);
      for (int x = 1; x <= w - 2; ++x) {
        const int s = k[0] * top[x - 1] + k[1] * top[x] + k[2] * top[x + 1] + k[3] * mid[x - 1] +
                      k[4] * mid[x] + k[5] * mid[x + 1] + k[6] * bot[x - 1] + k[7] * bot[x] +
                      k[8] * bot[x + 1];
        int v = s < 0 ? 0 : std::min(s / divisor, 255);
        if (v < 0) v = 0;  // a negative divisor must not wrap
        o[3 * x] = static_cast<std::uint8_t>(v);
      }
    }
    const int oldest = slotOf[0];
    slotOf[0] = slotOf[1];
    slotOf[1] = slotOf[2];
    slotOf[2] = oldest;
    Progress(y, 1, h - 2);
  }
  EndProgress();
}

namespace {

constexpr std::int8_t kSharpen[9] = {-1, -2, -1, -2, 0, -2, -1, -2, -1};
constexpr std::int8_t kSmooth[9] = {1, 2, 1, 2, 0, 2, 1, 2, 1};
constexpr std::int8_t kEdge[9] = {1, 1, 1, 1, -8, 1, 1, 1, 1};
constexpr std::int8_t kEmboss[9] = {-1, -1, 0, -1, 1, 1, 0, 1, 1};

// Round((100 - Level) / 4), ties to even, as an 8-bit value.
std::int8_t LevelTerm(std::uint8_t level) {
  return static_cast<std::int8_t>(std::nearbyint((100.0 - level) / 4.0));
}

}  // namespace

TSharpenTransform::TSharpenTransform() { SetKernel(kSharpen); }

void TSharpenTransform::PrepareKernel() {
  const std::int8_t a = LevelTerm(level_);
  kernel_[1][1] = static_cast<std::int8_t>(a + 15);
  divisor_ = static_cast<std::int8_t>(a + 3);
}

TSmoothTransform::TSmoothTransform() { SetKernel(kSmooth); }

void TSmoothTransform::PrepareKernel() {
  const std::int8_t a = LevelTerm(level_);
  kernel_[1][1] = static_cast<std::int8_t>(a + 15);
  divisor_ = static_cast<std::int8_t>(a + 27);
}

TEdgeTransform::TEdgeTransform() { SetKernel(kEdge); }

TEmbossTransform::TEmbossTransform() { SetKernel(kEmboss); }

// --- anti-alias ----------------------------------------------------------------

namespace {

// Set bits of every byte value; a table, because without a popcount
// instruction in the baseline target a byte lookup is the fastest count.
const std::array<std::uint8_t, 256> kOnes = [] {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(std::popcount(unsigned(i)));
  return t;
}();

// Ones in bits [0, i) of a packed MSB-first row, from the per-byte prefix
// counts.
inline int OnesBefore(const std::uint8_t* row, const int* bytePrefix, int i) {
  const int partial = i & 7;
  return bytePrefix[i >> 3] + (partial ? kOnes[row[i >> 3] >> (8 - partial)] : 0);
}

}  // namespace

void TAntiAliasTransform::Apply(TDibGraphic& graphic) {
  if (graphic.ImageFormat() != ifBlackWhite || graphic.Empty()) return;
  ApplyThroughCopy(graphic);
}

void TAntiAliasTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  if (source.ImageFormat() != ifBlackWhite || source.Empty()) {
    dest.Assign(&source);
    return;
  }
  StartProgress();
  const int w = source.Width(), h = source.Height();
  const int w2 = targetWidth_ ? targetWidth_ : w;
  const int h2 = targetHeight_ ? targetHeight_ : h;
  rows::NewLike(dest, source, w2, h2, ifGray256, nullptr);

  std::vector<int> col(static_cast<std::size_t>(w2) + 1), row(static_cast<std::size_t>(h2) + 1);
  const double xRatio = static_cast<double>(w) / w2, yRatio = static_cast<double>(h) / h2;
  for (int i = 0; i < w2; ++i) col[i] = static_cast<int>(std::trunc(i * xRatio));
  col[w2] = w - 1;
  for (int i = 0; i < h2; ++i) row[i] = static_cast<int>(std::trunc(i * yRatio));
  row[h2] = h - 1;

  // White pixels per output column, added row by row into the cells of one
  // output row. The source row shared by two neighbouring output rows is
  // counted once and its counts kept for the second.
  const int bytes = (w + 7) / 8;
  std::vector<int> prefix(static_cast<std::size_t>(bytes) + 1);
  // A cell of a large reduction holds more pixels than an int counts.
  std::vector<long long> sharedOnes(static_cast<std::size_t>(w2)),
      cellOnes(static_cast<std::size_t>(w2));
  int sharedRow = -1;
  // Adds row R's counts to the cells; keeps them too when Keep is set.
  auto addRow = [&](int r, bool keep) {
    if (r == sharedRow) {
      for (int l = 0; l < w2; ++l) cellOnes[l] += sharedOnes[l];
      return;
    }
    const std::uint8_t* bits = source.ScanLine(r);
    prefix[0] = 0;
    for (int i = 0; i < bytes; ++i) prefix[i + 1] = prefix[i] + kOnes[bits[i]];
    int before = OnesBefore(bits, prefix.data(), col[0]);
    for (int l = 0; l < w2; ++l) {
      const int upTo = OnesBefore(bits, prefix.data(), std::max(col[l + 1], col[l]));
      cellOnes[l] += upTo - before;
      if (keep) sharedOnes[l] = upTo - before;
      before = upTo;
    }
    if (keep) sharedRow = r;
  };

  for (int k = 0; k < h2; ++k) {
    std::fill(cellOnes.begin(), cellOnes.end(), 0);
    const int first = row[k], last = row[k + 1];
    for (int r = first; r <= last; ++r) addRow(r, r == last);
    const long long rowsCounted = last - first + 1;
    std::uint8_t* out = dest.ScanLine(k);
    for (int l = 0; l < w2; ++l) {
      const long long n = rowsCounted * std::max(0, col[l + 1] - col[l]);
      const long long white = cellOnes[l], black = n - white;
      int value;
      if (black == 0)
        value = 255;
      else if (black == n || white < n / 8)
        value = 0;
      else if (black < n / 8)
        value = 255;
      else
        value = static_cast<int>(white * 255 / n);
      out[l] = static_cast<std::uint8_t>(value);
    }
    Progress(k, 0, h2 - 1);
  }
  EndProgress();
}

}  // namespace lumetra
