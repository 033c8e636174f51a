#include "imaging/color_reduction.h"

#include <algorithm>
#include <cstring>

namespace lumetra {

namespace {

constexpr std::uint64_t kCrowded = std::uint64_t{1} << 30;

struct TCandidate {
  int red, green, blue;
};

inline int Distance2(const TCandidate& a, const TCandidate& b) {
  const int dr = a.red - b.red, dg = a.green - b.green, db = a.blue - b.blue;
  return dr * dr + dg * dg + db * db;
}

inline std::uint32_t PaletteEntryColour(const TDibGraphic& g, int index) {
  return PaletteColour(g.LogPalette()->palPalEntry[index & 0xFF]);
}

// Counts every pixel's 15-bit key, saturating at 65535; answers the number
// of distinct keys.
int BuildHistogram(const TDibGraphic& image, std::vector<std::uint16_t>& counts) {
  int distinct = 0;
  auto add = [&](std::uint32_t colour, std::uint32_t times) {
    const unsigned key = ((colour & 0xF8) << 7) | ((colour >> 6) & 0x3E0) | ((colour >> 19) & 0x1F);
    std::uint16_t& counter = counts[key];
    if (counter == 0 && times > 0) ++distinct;
    const std::uint32_t sum = counter + times;
    counter = static_cast<std::uint16_t>(sum > 65535 ? 65535 : sum);
  };
  if (image.Empty()) return 0;
  const int w = image.Width(), h = image.Height();
  const int bits = image.InfoHeader().biBitCount;
  if (bits == 24) {
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* p = image.ScanLine(y);
      for (int x = 0; x < w; ++x, p += 3) {
        const unsigned key = (unsigned{p[0]} >> 3) << 10 | (unsigned{p[1]} >> 3) << 5 | (p[2] >> 3);
        std::uint16_t& counter = counts[key];
        if (counter == 0) ++distinct;
        if (counter != 65535) ++counter;
      }
    }
    return distinct;
  }
  // Indexed: count the indices, then each index adds its count to its
  // colour's key, which saturates the same way pixel-by-pixel counting does.
  std::uint64_t perIndex[256] = {};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = image.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      int index;
      if (bits == 8)
        index = row[x];
      else if (bits == 4)
        index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      else
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
      ++perIndex[index];
    }
  }
  for (int i = 0; i < 256; ++i)
    if (perIndex[i])
      add(PaletteEntryColour(image, i),
          static_cast<std::uint32_t>(std::min<std::uint64_t>(perIndex[i], 65535)));
  return distinct;
}

int Threshold(int distinct) {
  if (distinct < 1250) return 2;
  if (distinct < 2500) return 5;
  if (distinct < 5000) return 10;
  if (distinct < 10000) return 15;
  return 20;
}

// Moves the n picks of the greedy spread to the front of Candidates. The
// crowding of every unpicked candidate is kept as a running sum, so each
// pick adds its own terms once instead of the whole sum being recomputed;
// integer sums give the same values either way.
void SelectSpread(std::vector<TCandidate>& candidates, int n, std::uint8_t* progressState,
                  const TLumetraProgressEvent& progress, TObject* sender) {
  const int m = static_cast<int>(candidates.size());
  std::uint8_t localState = 255;
  std::uint8_t& state = progressState ? *progressState : localState;
  auto report = [&](int position) { state = ReportProgress(sender, position, 0, state, n, progress); };

  const TCandidate white{255, 255, 255};
  int first = 0;
  for (int c = 1; c < m; ++c)
    if (Distance2(candidates[c], white) < Distance2(candidates[first], white)) first = c;
  std::swap(candidates[0], candidates[first]);
  report(0);

  std::vector<std::uint64_t> crowding(static_cast<std::size_t>(m), 0);
  auto addPick = [&](int picked) {
    const TCandidate& p = candidates[picked];
    for (int c = picked + 1; c < m; ++c) {
      const int d = Distance2(p, candidates[c]);
      crowding[c] = d == 0 ? std::max(crowding[c], kCrowded) : crowding[c] + kCrowded / d;
    }
  };
  addPick(0);
  for (int i = 1; i < n; ++i) {
    int best = -1;
    for (int c = i; c < m; ++c)
      if (crowding[c] < kCrowded && (best < 0 || crowding[c] < crowding[best])) best = c;
    if (best < 0) best = i;
    std::swap(candidates[i], candidates[best]);
    std::swap(crowding[i], crowding[best]);
    addPick(i);
    report(i);
  }
}

}  // namespace

void Quantize(const TDibGraphic& image, TLogPalette& out, int maxColours,
              std::uint8_t* progressState, const TLumetraProgressEvent& progress, TObject* sender) {
  const int n = std::clamp(maxColours, 0, 256);
  std::vector<std::uint16_t> counts(32768, 0);
  const int distinct = BuildHistogram(image, counts);
  const int threshold = Threshold(distinct);
  std::vector<TCandidate> candidates;
  for (int key = 0; key < 32768; ++key)
    if (counts[key] > threshold)
      candidates.push_back({(key & 0x1F) * 8, ((key >> 5) & 0x1F) * 8, ((key >> 10) & 0x1F) * 8});
  if (static_cast<int>(candidates.size()) > n && n > 0)
    SelectSpread(candidates, n, progressState, progress, sender);

  std::memset(&out, 0, sizeof out);
  out.palVersion = 0x300;
  out.palNumEntries = static_cast<std::uint16_t>(n);
  const int kept = std::min(n, static_cast<int>(candidates.size()));
  for (int k = 0; k < kept; ++k)
    out.palPalEntry[k] = {static_cast<std::uint8_t>(candidates[k].red),
                          static_cast<std::uint8_t>(candidates[k].green),
                          static_cast<std::uint8_t>(candidates[k].blue), 0};
}

// --- nearest colour ------------------------------------------------------------

TNearestColourIndex::TNearestColourIndex(const TLogPalette& palette)
    : cells_(4096), built_(4096, false), memo_(4096, Memo{0xFFFFFFFF, 0}) {
  const int count = std::min<int>(palette.palNumEntries, 256);
  for (int i = 0; i < count; ++i) {
    const TPaletteEntry& e = palette.palPalEntry[i];
    palette_.push_back({e.peRed, e.peGreen, e.peBlue, i});
  }
}

const std::vector<TNearestColourIndex::Entry>& TNearestColourIndex::CellEntries(int cell) {
  if (built_[cell]) return cells_[cell];
  const int lo[3] = {(cell >> 8) * 16, ((cell >> 4) & 15) * 16, (cell & 15) * 16};
  // Squared distance from an entry to the nearest and the farthest point of
  // the cube, per axis.
  auto axis = [](int v, int low, bool farthest) {
    const int high = low + 15;
    if (farthest) return std::max(std::abs(v - low), std::abs(v - high));
    return v < low ? low - v : v > high ? v - high : 0;
  };
  long bound = -1;
  for (const Entry& e : palette_) {
    long far = 0;
    for (int a = 0; a < 3; ++a) {
      const int d = axis(a == 0 ? e.red : a == 1 ? e.green : e.blue, lo[a], true);
      far += long{d} * d;
    }
    if (bound < 0 || far < bound) bound = far;
  }
  std::vector<Entry>& list = cells_[cell];
  for (const Entry& e : palette_) {
    long near = 0;
    for (int a = 0; a < 3; ++a) {
      const int d = axis(a == 0 ? e.red : a == 1 ? e.green : e.blue, lo[a], false);
      near += long{d} * d;
    }
    if (near <= bound) list.push_back(e);  // index order is kept
  }
  built_[cell] = true;
  return list;
}

int TNearestColourIndex::Find(int red, int green, int blue) {
  if (palette_.empty()) return 0;
  const std::uint32_t colour = static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
  Memo& memo = memo_[(colour * 2654435761u) >> 20];
  if (memo.colour == colour) return memo.index;
  const std::vector<Entry>& list = CellEntries((red >> 4) << 8 | (green >> 4) << 4 | (blue >> 4));
  int best = 0;
  long bestDistance = -1;
  for (const Entry& e : list) {
    const long dr = red - e.red, dg = green - e.green, db = blue - e.blue;
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = e.index;
      if (d == 0) break;
    }
  }
  memo = {colour, best};
  return best;
}

// --- Floyd-Steinberg -----------------------------------------------------------

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

inline void SetIndex(std::uint8_t* row, int bits, int x, int index) {
  switch (bits) {
    case 1: {
      const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = index > 0 ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
      return;
    }
    case 4: {
      std::uint8_t& b = row[x >> 1];
      b = (x & 1) ? ((b & 0xF0) | (index & 0x0F)) : ((b & 0x0F) | (index & 0x0F) << 4);
      return;
    }
    default: row[x] = static_cast<std::uint8_t>(index);
  }
}

}  // namespace

void DitherFloydSteinberg(const TDibGraphic& source, TDibGraphic& dest,
                          const std::function<void(int row)>& rowDone) {
  if (source.Empty() || dest.Empty()) return;
  const int w = std::min(source.Width(), dest.Width());
  const int h = std::min(source.Height(), dest.Height());
  const int bits = dest.InfoHeader().biBitCount;
  if (bits == 24) throw ELumetraError("The image does not have a palette");
  const TLogPalette& palette = *dest.LogPalette();
  TNearestColourIndex nearest(palette);

  const std::size_t n = static_cast<std::size_t>(w);
  // Current row and next row's error sums, red, green and blue each.
  std::vector<int> cur(3 * n, 0), next(3 * n, 0);
  int* cr = cur.data();
  int* cg = cr + n;
  int* cb = cg + n;
  int* nr = next.data();
  int* ng = nr + n;
  int* nb = ng + n;
  std::vector<std::uint32_t> colours(n);
  const int sourceBits = source.InfoHeader().biBitCount;

  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = source.ScanLine(y);
    if (sourceBits == 24) {
      for (std::size_t x = 0; x < n; ++x, s += 3) {
        cr[x] = Clamp255(nr[x] + s[2]);
        cg[x] = Clamp255(ng[x] + s[1]);
        cb[x] = Clamp255(nb[x] + s[0]);
      }
    } else {
      for (int x = 0; x < w; ++x) colours[static_cast<std::size_t>(x)] = source.Pixels(x, y);
      for (std::size_t x = 0; x < n; ++x) {
        const std::uint32_t c = colours[x];
        cr[x] = Clamp255(nr[x] + static_cast<int>((c >> 16) & 0xFF));
        cg[x] = Clamp255(ng[x] + static_cast<int>((c >> 8) & 0xFF));
        cb[x] = Clamp255(nb[x] + static_cast<int>(c & 0xFF));
      }
    }
    std::fill(next.begin(), next.end(), 0);
    std::uint8_t* row = dest.ScanLine(y);
    auto place = [&](std::size_t x) {
      const int index = nearest.Find(cr[x], cg[x], cb[x]);
      SetIndex(row, bits, static_cast<int>(x), index);
      return index;
    };
    place(0);
    if (w >= 3) {
      for (std::size_t x = 1; x + 1 < n; ++x) {
        const TPaletteEntry& stored = palette.palPalEntry[place(x)];
        const int er = cr[x] - stored.peRed, eg = cg[x] - stored.peGreen, eb = cb[x] - stored.peBlue;
        cr[x + 1] = Clamp255(cr[x + 1] + er * 7 / 16);
        cg[x + 1] = Clamp255(cg[x + 1] + eg * 7 / 16);
        cb[x + 1] = Clamp255(cb[x + 1] + eb * 7 / 16);
        nr[x - 1] = Clamp255(nr[x - 1] + er * 3 / 16);
        ng[x - 1] = Clamp255(ng[x - 1] + eg * 3 / 16);
        nb[x - 1] = Clamp255(nb[x - 1] + eb * 3 / 16);
        nr[x] = Clamp255(nr[x] + er * 5 / 16);
        ng[x] = Clamp255(ng[x] + eg * 5 / 16);
        nb[x] = Clamp255(nb[x] + eb * 5 / 16);
        nr[x + 1] = Clamp255(nr[x + 1] + er / 16);
        ng[x + 1] = Clamp255(ng[x + 1] + eg / 16);
        nb[x + 1] = Clamp255(nb[x + 1] + eb / 16);
      }
    }
    if (w >= 2) place(n - 1);
    if (rowDone) rowDone(y);
  }
}

}  // namespace lumetra
