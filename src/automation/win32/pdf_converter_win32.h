// Runs the PDF conversion with the external converter tiff2pdf.dll, looked
// for beside the server first.
#pragma once

#include <cstdint>

#include "automation/pdf_conversion.h"

namespace quorvex::automation {

std::int32_t RunPdfConverter(const TPdfSettings& settings);

}  // namespace quorvex::automation
