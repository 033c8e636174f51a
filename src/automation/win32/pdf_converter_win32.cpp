#include "automation/win32/pdf_converter_win32.h"

#include <windows.h>

#include "automation/win32/com_support.h"
#include "base/exception.h"
#include "platform/win32/owners.h"

namespace quorvex::automation {

namespace {

using TQVTiff2Pdf = std::int32_t(__cdecl*)(std::int32_t, char**, std::int32_t);

HMODULE LoadConverter() {
  std::wstring path = ServerModulePath();
  const auto slash = path.find_last_of(L"\\/");
  path = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"tiff2pdf.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) module = LoadLibraryW(L"tiff2pdf.dll");
  return module;
}

}  // namespace

std::int32_t RunPdfConverter(const TPdfSettings& settings) {
  TConversionActions actions;
  actions.FileExists = [](const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  actions.RemoveFile = [](const std::string& path) {
    return DeleteFileW(Widen(path).c_str()) != FALSE;
  };
  actions.Convert = [](std::int32_t argc, char** argv, std::int32_t limit) -> std::int32_t {
    lumetra::win32::unique_module library(LoadConverter());
    if (!library) throw lumetra::Exception("Cannot load the PDF converter tiff2pdf.dll");
    auto convert = reinterpret_cast<TQVTiff2Pdf>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "QVTiff2Pdf")));
    if (!convert) throw lumetra::Exception("tiff2pdf.dll does not export QVTiff2Pdf");
    return convert(argc, argv, limit);
  };
  return ConvertDocumentToPdf(settings, actions);
}

}  // namespace quorvex::automation
