#include "imaging/lumisc.h"

#include <atomic>
#include <cmath>
#include <limits>

#include "base/conversions.h"
#include "base/format.h"
#include "platform/platform.h"

namespace lumetra {

std::uint8_t ReportProgress(TObject* sender, long long position, long long start,
                            std::uint8_t lastPercent, long long end,
                            const TLumetraProgressEvent& event) {
  if (!event) return 0;
  long long percent = 0;
  if (end - start > 0) {
    percent = (position - start) * 100 / (end - start);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
  }
  const auto result = static_cast<std::uint8_t>(percent);
  if (result != lastPercent) event(sender, result);
  return result;
}

int IntMin(int a, int b) { return a < b ? a : b; }
int IntMax(int a, int b) { return a > b ? a : b; }
long double FloatMin(long double a, long double b) { return a < b ? a : b; }

long double FloatClamp(long double value, long double low, long double high) {
  if (value < low) value = low;
  if (value > high) value = high;
  return value;
}

int IntClamp(int value, int low, int high) {
  if (value < low) value = low;
  if (value > high) value = high;
  return value;
}

void SwapInt(int& a, int& b) {
  const int t = a;
  a = b;
  b = t;
}

long long SafeTrunc(long double value) {
  // The truncation is tried twice before giving up, as the original FPU
  // code did; with no FPU state to clear, the second try only repeats the
  // range check.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const long double t = std::trunc(value);
    if (std::isfinite(t) && t >= static_cast<long double>(std::numeric_limits<long long>::min()) &&
        t <= static_cast<long double>(std::numeric_limits<long long>::max()))
      return static_cast<long long>(t);
  }
  throw Exception("LuMisc unit: Error in SafeTrunc.");
}

long long SafeCeil(long double value) {
  long long t = SafeTrunc(value);
  if (value - static_cast<long double>(t) > 0) ++t;
  return t;
}

long long SafeFloor(long double value) {
  long long t = SafeTrunc(value);
  if (value - static_cast<long double>(t) < 0) --t;
  return t;
}

long double Power(long double base, long double exponent) {
  return std::exp(exponent * std::log(base));
}

long double RoundTo(long double value, int decimals) {
  // Formatting and parsing back, as the library has always done.
  return StrToFloat(FloatToStrF(value, decimals));
}

bool MaskTest(std::uint32_t value, std::uint32_t mask) { return (value & mask) == mask; }

std::string IncludeTrailingBackslash(const std::string& path) {
  if (path.empty()) return "\\";
  if (path.back() == '\\' || path.back() == ':') return path;
  return path + "\\";
}

int RectWidth(const TRect& r) { return r.Right - r.Left + 1; }
int RectHeight(const TRect& r) { return r.Bottom - r.Top + 1; }

namespace {
// The cursor is a thread's own input state: one thread's long job must not
// show the hourglass over another thread's window.
thread_local int busyDepth = 0;
}

void BeginBusyCursor() {
  if (busyDepth++ == 0) platform::ShowBusyCursor(true);
}

void EndBusyCursor() {
  if (busyDepth <= 0) return;
  if (--busyDepth == 0) platform::ShowBusyCursor(false);
}

int BusyCursorDepth() { return busyDepth; }

std::string CreateTempFileName(const std::string& prefix, const std::string& extension) {
  std::string dir = platform::TempDirectory();
  if (dir.back() != platform::PathDelimiter() && dir.back() != ':') dir += platform::PathDelimiter();
  std::string ext = extension;
  if (!ext.empty() && ext[0] != '.') ext = "." + ext;
  for (unsigned long long counter = 0;; ++counter) {
    std::string name = dir + prefix + std::to_string(counter) + ext;
    if (!platform::FileExists(name)) return name;
  }
}

bool RunAndWait(const std::string& commandLine, bool visible, std::uint32_t& exitCode) {
  return platform::RunAndWait(commandLine, visible, exitCode);
}

namespace {

std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string Expand(const std::string& pattern, const std::tm& t, bool date) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    auto run = [&](char c) {
      std::size_t n = 0;
      while (i + n < pattern.size() && (pattern[i + n] | 0x20) == c) ++n;
      return n;
    };
    const char c = static_cast<char>(pattern[i] | 0x20);
    std::size_t n = 0;
    if (date && c == 'y') {
      n = run('y');
      const int year = t.tm_year + 1900;
      out += n <= 2 ? Two(year % 100) : std::to_string(year);
    } else if (date && c == 'm') {
      n = run('m');
      out += n >= 2 ? Two(t.tm_mon + 1) : std::to_string(t.tm_mon + 1);
    } else if (date && c == 'd') {
      n = run('d');
      out += n >= 2 ? Two(t.tm_mday) : std::to_string(t.tm_mday);
    } else if (!date && c == 'h') {
      n = run('h');
      out += n >= 2 ? Two(t.tm_hour) : std::to_string(t.tm_hour);
    } else if (!date && (c == 'n' || c == 'm')) {
      n = run(c);
      out += n >= 2 ? Two(t.tm_min) : std::to_string(t.tm_min);
    } else if (!date && c == 's') {
      n = run('s');
      out += n >= 2 ? Two(t.tm_sec) : std::to_string(t.tm_sec);
    } else {
      out += pattern[i];
      n = 1;
    }
    i += n;
  }
  return out;
}

}  // namespace

std::string FormatDateWith(const std::string& pattern, const std::tm& moment) {
  return Expand(pattern, moment, true);
}

std::string FormatTimeWith(const std::string& pattern, const std::tm& moment) {
  return Expand(pattern, moment, false);
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

}  // namespace lumetra
