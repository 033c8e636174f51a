// Text to number conversions with the system's standard error texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumetra {

// Decimal, or hexadecimal with a "$" or "0x" prefix; leading and trailing
// blanks are allowed. Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
// As StrToInt, but answers Default instead of raising.
std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);
bool TryStrToInt(std::string_view text, std::int32_t& value);

// Decimal with optional exponent, "." as separator, blanks around allowed.
// Raises EConvertError "'%s' is not a valid floating point value".
long double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, long double& value);

std::string IntToStr(long long value);

std::string Trim(std::string_view text);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

// The extension of FileName including its dot, or "": a dot inside a
// directory name does not count.
std::string ExtractFileExt(std::string_view fileName);

}  // namespace lumetra
