// Acquires a batch from the virtual scanner (100 black-and-white A4 pages at
// 300 dpi unless told otherwise) and prints pages per second and the peak
// memory of the process. Each page is let go when its callback returns, so
// the peak stays near one page whatever the batch size.
// Usage: twain_acquire_bench [pages [dpi [format [indicators]]]]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "twain/twain_scanner.h"

namespace {

struct Counter {
  int pages = 0;
  SIZE_T largestPage = 0;
};

void CountPage(HWND, HGLOBAL dib, std::uint16_t, void* context, std::uint16_t) {
  auto* counter = static_cast<Counter*>(context);
  ++counter->pages;
  const SIZE_T size = GlobalSize(dib);
  if (size > counter->largestPage) counter->largestPage = size;
}

double Megabytes(SIZE_T bytes) { return bytes / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 100;
  const int dpi = argc > 2 ? std::atoi(argv[2]) : 300;
  const int format = argc > 3 ? std::atoi(argv[3]) : 0;
  const bool indicators = argc > 4 ? std::atoi(argv[4]) != 0 : true;

  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string settings = std::string(dir) + "qv_twain_bench.ini";
  if (FILE* f = std::fopen(settings.c_str(), "wb")) {
    std::fprintf(f, "pages = %d\n", pages);
    std::fclose(f);
  }
  SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", settings.c_str());

  PROCESS_MEMORY_COUNTERS before{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);

  Counter counter;
  LARGE_INTEGER frequency, start, stop;
  try {
    quorvex::twain::TScanner scanner;
    scanner.SetProductName("Quorvex acquisition benchmark");
    scanner.SetShowUI(false);
    scanner.SetXDpi(static_cast<std::uint16_t>(dpi));
    scanner.SetYDpi(static_cast<std::uint16_t>(dpi));
    scanner.SetImageFormat(static_cast<lumetra::TImageFormat>(format));
    scanner.SetIndicators(indicators);
    if (!scanner.IsAvailable()) {
      std::fprintf(stderr, "no TWAIN source manager\n");
      return 1;
    }
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    scanner.Acquire(&counter, CountPage, nullptr);
    QueryPerformanceCounter(&stop);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "acquisition failed: %s\n", e.what());
    return 1;
  }
  DeleteFileA(settings.c_str());

  PROCESS_MEMORY_COUNTERS after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  const double seconds = double(stop.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  std::printf("pages: %d at %d dpi, format %d, indicators %s\n", counter.pages, dpi, format,
              indicators ? "on" : "off");
  std::printf("time: %.3f s, %.1f pages per second\n", seconds, counter.pages / seconds);
  std::printf("page size: %.2f MB\n", Megabytes(counter.largestPage));
  std::printf("peak working set: %.1f MB (%.1f MB before the batch)\n",
              Megabytes(after.PeakWorkingSetSize), Megabytes(before.PeakWorkingSetSize));
  std::printf("peak committed memory: %.1f MB (%.1f MB before the batch)\n",
              Megabytes(after.PeakPagefileUsage), Megabytes(before.PeakPagefileUsage));
  return counter.pages == pages ? 0 : 1;
}
