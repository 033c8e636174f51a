// The OCR driver inside a DLL of its own folder, as Quorvex.dll runs it in a
// host program that lives elsewhere: ocr_win32_tests loads it to see where a
// bare program name is found.
#include <windows.h>

#include <cstring>

#include "ocr/letter_page.h"
#include "ocr/ocr_engine.h"

// Recognises the printed letter with Program; answers 1 and the lines (one a
// line) in Text, or 0 and the error message.
extern "C" __declspec(dllexport) int QvRecognizeLetter(const char* program, char* text, int size) {
  std::string result;
  int ok = 0;
  try {
    lumetra::TDibGraphic page;
    qvtest::PrintLetter(page, lumetra::ifBlackWhite);
    lumetra::TConsoleOcrDriver driver;
    driver.SetOcrProgram(program);
    driver.SetInputFormat("pbm");
    std::vector<std::string> lines;
    driver.Recognize(page, lines, nullptr);
    for (const std::string& line : lines) result += line + "\n";
    ok = 1;
  } catch (const std::exception& e) {
    result = e.what();
  }
  lstrcpynA(text, result.c_str(), size);
  return ok;
}
