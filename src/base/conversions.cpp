#include "base/conversions.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/exception.h"
#include "base/format.h"

namespace lumetra {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Stripped(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::string_view s = Stripped(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  unsigned long long magnitude = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  if (base == 16 && !negative && magnitude <= 0xFFFFFFFFULL) {
    // Hexadecimal literals name a bit pattern, as in the host languages.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    return true;
  }
  const long long signedValue = negative ? -static_cast<long long>(magnitude)
                                         : static_cast<long long>(magnitude);
  if (magnitude > 0x80000000ULL || signedValue < std::numeric_limits<std::int32_t>::min() ||
      signedValue > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(signedValue);
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError(Format("'%s' is not a valid integer value", text));
  return value;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue) {
  std::int32_t value = 0;
  return TryStrToInt(text, value) ? value : defaultValue;
}

bool TryStrToFloat(std::string_view text, long double& value) {
  std::string_view s = Stripped(text);
  if (s.empty()) return false;
  // Validate the grammar ourselves: [sign] digits [. digits] [e [sign] digits],
  // at least one digit in the mantissa. Nothing locale-dependent is consulted.
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  std::string_view body = s;
  if (body.front() == '+') body.remove_prefix(1);
  double parsed = 0;
  auto r = std::from_chars(body.data(), body.data() + body.size(), parsed);
  if (r.ec != std::errc() || r.ptr != body.data() + body.size()) return false;
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

long double StrToFloat(std::string_view text) {
  long double value = 0;
  if (!TryStrToFloat(text, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", text));
  return value;
}

std::string IntToStr(long long value) {
  return std::to_string(value);
}

std::string Trim(std::string_view text) {
  // Like the host languages' Trim: control characters and blanks at both ends.
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

std::string ExtractFileExt(std::string_view fileName) {
  const std::size_t dot = fileName.find_last_of(".\\/:");
  if (dot == std::string_view::npos || fileName[dot] != '.') return {};
  return std::string(fileName.substr(dot));
}

}  // namespace lumetra
