#include "base/format.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "base/exception.h"

namespace lumetra {
namespace {

struct Spec {
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

std::string FloatText(long double value, char type, int precision) {
  // long double to_chars is not everywhere reliable; double carries every
  // value the system prints.
  const double v = static_cast<double>(value);
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  char buffer[512];
  std::chars_format fmt = std::chars_format::fixed;
  if (type == 'e') fmt = std::chars_format::scientific;
  if (type == 'g') fmt = std::chars_format::general;
  std::to_chars_result r;
  if (precision < 0 && type != 'f' && type != 'e') {
    r = std::to_chars(buffer, buffer + sizeof buffer, v, fmt);
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, v, fmt, precision < 0 ? 2 : precision);
  }
  if (r.ec != std::errc()) return "?";
  return std::string(buffer, r.ptr);
}

std::string Render(const Spec& spec, const FormatArg& arg) {
  const auto& value = arg.Get();
  auto asSigned = [&]() -> long long {
    if (auto p = std::get_if<long long>(&value)) return *p;
    if (auto p = std::get_if<unsigned long long>(&value)) return static_cast<long long>(*p);
    throw Exception("Format: invalid argument for %" + std::string(1, spec.type));
  };
  switch (spec.type) {
    case 's':
      if (auto p = std::get_if<std::string>(&value)) {
        if (spec.precision >= 0 && static_cast<std::size_t>(spec.precision) < p->size())
          return p->substr(0, spec.precision);
        return *p;
      }
      if (auto p = std::get_if<long double>(&value)) return FloatToStr(*p);
      if (auto p = std::get_if<unsigned long long>(&value)) return std::to_string(*p);
      return std::to_string(std::get<long long>(value));
    case 'd': {
      if (auto p = std::get_if<unsigned long long>(&value)) return std::to_string(*p);
      std::string digits = std::to_string(asSigned());
      if (spec.precision > 0) {
        bool negative = !digits.empty() && digits[0] == '-';
        std::string body = negative ? digits.substr(1) : digits;
        const int pad = spec.precision - static_cast<int>(body.size());
        digits = (negative ? "-" : "") + std::string(pad > 0 ? pad : 0, '0') + body;
      }
      return digits;
    }
    case 'u':
      return std::to_string(static_cast<unsigned long long>(asSigned()));
    case 'x':
    case 'X': {
      char buffer[32];
      auto r = std::to_chars(buffer, buffer + sizeof buffer,
                             static_cast<unsigned long long>(asSigned()) & 0xFFFFFFFFULL, 16);
      std::string digits(buffer, r.ptr);
      if (spec.type == 'X')
        for (auto& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const int pad = spec.precision - static_cast<int>(digits.size());
      return std::string(pad > 0 ? pad : 0, '0') + digits;
    }
    case 'f':
    case 'e':
    case 'g': {
      long double v;
      if (auto p = std::get_if<long double>(&value))
        v = *p;
      else
        v = static_cast<long double>(asSigned());
      return FloatText(v, spec.type, spec.precision);
    }
  }
  throw Exception("Format: invalid format specifier");
}

}  // namespace

std::string FormatList(std::string_view pattern, const FormatArg* args, std::size_t count) {
  std::string out;
  out.reserve(pattern.size() + 16);
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Spec spec;
    std::size_t j = i + 1;
    if (j < pattern.size() && pattern[j] == '-') {
      spec.leftAlign = true;
      ++j;
    }
    auto readNumber = [&](int& target) {
      if (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
        target = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])))
          target = target * 10 + (pattern[j++] - '0');
      }
    };
    readNumber(spec.width);
    if (j < pattern.size() && pattern[j] == '.') {
      ++j;
      spec.precision = 0;
      readNumber(spec.precision);
    }
    if (j >= pattern.size()) throw Exception("Format: invalid format string");
    spec.type = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[j])));
    if (pattern[j] == 'X') spec.type = 'X';
    if (next >= count) throw Exception("Format: too few arguments");
    std::string text = Render(spec, args[next++]);
    if (spec.width > 0 && static_cast<int>(text.size()) < spec.width) {
      std::string pad(spec.width - text.size(), ' ');
      text = spec.leftAlign ? text + pad : pad + text;
    }
    out += text;
    i = j;
  }
  return out;
}

std::string FloatToStr(long double value) {
  return FloatText(value, 'g', -1);
}

std::string FloatToStrF(long double value, int decimals) {
  return FloatText(value, 'f', decimals < 0 ? 0 : decimals);
}

}  // namespace lumetra
