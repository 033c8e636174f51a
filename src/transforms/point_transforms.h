// The point operations: each output pixel depends on its source pixel only.
#pragma once

#include "transforms/image_transform.h"

namespace lumetra {

// Inverts an image: indices of grey and black-and-white images, the palette
// of colour-mapped images, the pixels of true-colour images.
class TNegativeTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TNegativeTransform"; }
  void Apply(TDibGraphic& graphic) override;
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
};

// Lightness, hue and saturation of one colour; hue is -1 for greys.
struct THsl {
  float Hue, Saturation, Lightness;
};
THsl RgbToHsl(int red, int green, int blue);
std::uint32_t HslToRgb(const THsl& hsl);

// Shifts lightness by Amount per cent of full lightness.
class TBrightnessTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TBrightnessTransform"; }
  void Apply(TDibGraphic& graphic) override;
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  double Amount() const { return amount_; }
  void SetAmount(double value);  // limited to -100..100

 private:
  double amount_ = 5.0;
};

// Moves lightness towards (or away from) a sine curve through mid-grey.
class TContrastTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TContrastTransform"; }
  void Apply(TDibGraphic& graphic) override;
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  bool IncreaseContrast() const { return increase_; }
  void SetIncreaseContrast(bool value) { increase_ = value; }
  std::int32_t Strength() const { return strength_; }
  void SetStrength(std::int32_t value) { strength_ = value; }

 private:
  bool increase_ = true;
  std::int32_t strength_ = 5;
};

// Gamma correction through a 256-entry table; the result is true colour.
class TGammaTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TGammaTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  double GammaValue() const { return gamma_; }
  void SetGammaValue(double value);  // limited to 0.1..7.0

 private:
  double gamma_ = 1.0;
};

// Weighted grey conversion into any target format.
class TConvertToGrayTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TConvertToGrayTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  double RedWeight() const { return red_; }
  void SetRedWeight(double value) { red_ = value; }
  double GreenWeight() const { return green_; }
  void SetGreenWeight(double value) { green_ = value; }
  double BlueWeight() const { return blue_; }
  void SetBlueWeight(double value) { blue_ = value; }
  TImageFormat TargetFormat() const { return target_; }
  void SetTargetFormat(TImageFormat value) { target_ = value; }

 private:
  double red_ = 0.299, green_ = 0.587, blue_ = 0.114;
  TImageFormat target_ = ifGray256;
};

}  // namespace lumetra
