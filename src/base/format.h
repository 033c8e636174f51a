// Format fills a message template the way every message of the system is
// filled: %s, %d, %u, %x and %f/%e/%g with optional '-' flag, width and
// precision; "%%" is a percent sign. Numbers never depend on the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace lumetra {

class FormatArg {
 public:
  using Value = std::variant<long long, unsigned long long, long double, std::string>;

  template <class T>
    requires std::is_integral_v<T> && std::is_signed_v<T>
  FormatArg(T v) : value_(static_cast<long long>(v)) {}
  template <class T>
    requires std::is_integral_v<T> && std::is_unsigned_v<T> && (!std::is_same_v<T, bool>)
  FormatArg(T v) : value_(static_cast<unsigned long long>(v)) {}
  FormatArg(bool v) : value_(static_cast<long long>(v)) {}
  FormatArg(float v) : value_(static_cast<long double>(v)) {}
  FormatArg(double v) : value_(static_cast<long double>(v)) {}
  FormatArg(long double v) : value_(v) {}
  FormatArg(const char* v) : value_(std::string(v ? v : "")) {}
  FormatArg(std::string_view v) : value_(std::string(v)) {}
  FormatArg(const std::string& v) : value_(v) {}

  const Value& Get() const { return value_; }

 private:
  Value value_;
};

std::string FormatList(std::string_view pattern, const FormatArg* args, std::size_t count);

template <class... A>
std::string Format(std::string_view pattern, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return FormatList(pattern, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatList(pattern, list, sizeof...(A));
  }
}

// Locale-independent float text: shortest form that reads back the same
// value, with "." as the decimal separator.
std::string FloatToStr(long double value);
// Fixed notation with the given number of decimals (rounded half to even on
// the binary value, as printf does).
std::string FloatToStrF(long double value, int decimals);

}  // namespace lumetra
