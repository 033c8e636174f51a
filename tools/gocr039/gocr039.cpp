// gocr039.exe: the recogniser that the scanning window's OCR command starts
// as "gocr039.exe IMAGE > OUTPUT". It runs gocr.exe, which lives beside it,
// on IMAGE and lets it write the recognised text into OUTPUT. Its exit code
// is gocr's, or 2 for a bad command line and 3 when gocr cannot be started;
// OUTPUT is then left as it was (the OCR command shows an empty result).
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher_command.h"

namespace {

std::string OwnFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return {};
  const std::string path(buffer, n);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

}  // namespace

int main() {
  using namespace quorvex::gocr039;
  TImageAndOutput files;
  if (!SplitImageAndOutput(ArgumentsOf(::GetCommandLineA()), files)) {
    std::fputs("usage: gocr039 IMAGE > OUTPUT\n", stderr);
    return 2;
  }
  const std::string gocr = OwnFolder() + "gocr.exe";
  std::string commandLine = GocrCommandLine(gocr, files);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(gocr.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
    std::fprintf(stderr, "gocr039: cannot start %s (error %lu)\n", gocr.c_str(),
                 static_cast<unsigned long>(::GetLastError()));
    return 3;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 3;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
