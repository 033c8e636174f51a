// The library's small utility routines: clamps, safe truncation, progress
// reporting, the busy cursor, temporary file names, run-and-wait and the
// date/time formatting the TIFF writer uses.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "base/exception.h"
#include "base/object.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(ELumetraError, Exception);

// Progress callback: Sender and a percentage 0..100, called only when the
// percentage changes, 0 first and 100 last.
using TLumetraProgressEvent = std::function<void(TObject* sender, std::uint8_t percentProgress)>;
using TNotifyEvent = std::function<void(TObject* sender)>;
// A codec's warning about the file it read or wrote: the image is kept.
using TWarningEvent = std::function<void(TObject* sender, const std::string& message)>;

// Reports Position within Start..End when the percentage differs from
// LastPercent; answers the percentage, which the caller keeps as its new
// LastPercent. An operation starts with LastPercent 255.
std::uint8_t ReportProgress(TObject* sender, long long position, long long start,
                            std::uint8_t lastPercent, long long end,
                            const TLumetraProgressEvent& event);

// Inclusive rectangle of the library (Right and Bottom belong to it).
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};

// A GDI colour (0x00BBGGRR), as the user interface and the annotation marks
// keep colours; the library's own pixels are 0x00RRGGBB.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

// A 0x00RRGGBB library colour as a GDI colour and back.
constexpr TColor ColorToGdi(std::uint32_t rgb) {
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}
constexpr std::uint32_t GdiToColor(TColor color) {
  return ColorToGdi(color & 0xFFFFFF);
}

int IntMin(int a, int b);
int IntMax(int a, int b);
long double FloatMin(long double a, long double b);
long double FloatClamp(long double value, long double low, long double high);
int IntClamp(int value, int low, int high);
void SwapInt(int& a, int& b);
// Truncates toward zero; raises Exception "LuMisc unit: Error in SafeTrunc."
// when the value cannot be represented.
long long SafeTrunc(long double value);
long long SafeCeil(long double value);
long long SafeFloor(long double value);
long double Power(long double base, long double exponent);
long double RoundTo(long double value, int decimals);
bool MaskTest(std::uint32_t value, std::uint32_t mask);
std::string IncludeTrailingBackslash(const std::string& path);
int RectWidth(const TRect& r);
int RectHeight(const TRect& r);

// Nesting busy cursor of the calling thread: the first Begin shows the
// hourglass, the End that brings the count back to zero restores the
// default cursor.
void BeginBusyCursor();
void EndBusyCursor();
int BusyCursorDepth();
// RAII guard for the pair above.
class TBusyCursor {
 public:
  TBusyCursor() { BeginBusyCursor(); }
  ~TBusyCursor() { EndBusyCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Temp directory + Prefix + the first free decimal counter from 0 + Extension
// (a "." is put before an Extension that lacks one).
std::string CreateTempFileName(const std::string& prefix, const std::string& extension);

// Starts CommandLine and waits for it; answers whether the exit code could be
// read.
bool RunAndWait(const std::string& commandLine, bool visible, std::uint32_t& exitCode);

// Formats the date / time part of a moment with the given pattern, in the
// host languages' notation: yyyy, yy, mm, m, dd, d for dates; hh, h, nn, n,
// ss, s for times; "/" and ":" stand for themselves.
std::string FormatDateWith(const std::string& pattern, const std::tm& moment);
// The current moment in the local time zone.
std::tm LocalTimeNow();
std::string FormatTimeWith(const std::string& pattern, const std::tm& moment);

}  // namespace lumetra
