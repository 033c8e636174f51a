// A host for long scans driven by scripts: it creates Quorvex.Scanner,
// scans with a robot thread of its own pressing the window's buttons, and
// prints the result. The robot lives in the host, so that killing the host
// ends the whole scan.
// Usage: qv_scan_host FILENAME FORMAT DPI CONVERT STEP...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quorvex_h.h"
#include "support/scan_robot.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: qv_scan_host FILENAME FORMAT DPI CONVERT STEP...\n");
    return 2;
  }
  CoInitialize(nullptr);
  IScanner* scanner = nullptr;
  const HRESULT created = CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IScanner, reinterpret_cast<void**>(&scanner));
  if (FAILED(created) || !scanner) {
    std::fprintf(stderr, "cannot create Quorvex.Scanner: 0x%08lx\n",
                 static_cast<unsigned long>(created));
    return 1;
  }
  const std::string name = argv[1];
  BSTR file = SysAllocStringLen(nullptr, static_cast<UINT>(name.size()));
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), file,
                      static_cast<int>(name.size()));
  scanner->put_Filename(file);
  SysFreeString(file);
  scanner->put_ScanImgFormat(std::atoi(argv[2]));
  scanner->put_ScanXDpi(std::atoi(argv[3]));
  scanner->put_ScanYDpi(std::atoi(argv[3]));
  scanner->put_ShowScanUI(VARIANT_FALSE);
  scanner->put_ConvertToPdf(std::atoi(argv[4]) ? VARIANT_TRUE : VARIANT_FALSE);

  std::vector<std::string> steps(argv + 5, argv + argc);
  quorvex::robot::TPerson person(steps);
  const HRESULT scanned = scanner->Scan();
  std::string reason;
  const bool stepsDone = person.Finish(reason);
  LONG result = -1;
  scanner->get_ScanResult(&result);
  std::printf("Scan=0x%08lx ScanResult=%ld\n", static_cast<unsigned long>(scanned), result);
  if (!stepsDone) std::printf("robot: %s\n", reason.c_str());
  scanner->Release();
  CoUninitialize();
  return stepsDone && SUCCEEDED(scanned) ? 0 : 1;
}
