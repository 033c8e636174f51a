// The capabilities of the virtual scanner: the table of what it answers
// with the defaults, and getting, setting and resetting their values.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "virtual_source.h"

namespace quorvex::vscan {
namespace {

struct CapabilityInfo {
  TW_UINT16 cap;
  TW_UINT16 itemType;
  TW_UINT32 defaultValue;
  bool settable;
};

// Every capability the source answers, with its default. FIX32 defaults are
// kept as the one-value item (whole part in the low word).
constexpr CapabilityInfo kCapabilities[] = {
    {CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFF, true},
    {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, true},
    {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW, true},
    {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, true},
    {ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE, true},
    {CAP_FEEDERENABLED, TWTY_BOOL, 1, true},
    {CAP_FEEDERLOADED, TWTY_BOOL, 0, false},
    {CAP_SUPPORTEDCAPS, TWTY_UINT16, 0, false},
    {CAP_INDICATORS, TWTY_BOOL, 1, true},
    {CAP_UICONTROLLABLE, TWTY_BOOL, 1, false},
    {ICAP_PHYSICALWIDTH, TWTY_FIX32, Fix32Item(ToFix32(210.0 / 25.4)), false},
    {ICAP_PHYSICALHEIGHT, TWTY_FIX32, Fix32Item(ToFix32(297.0 / 25.4)), false},
    {ICAP_XRESOLUTION, TWTY_FIX32, 200, true},
    {ICAP_YRESOLUTION, TWTY_FIX32, 200, true},
    {ICAP_BITDEPTH, TWTY_UINT16, 1, true},
};
static_assert(std::size(kCapabilities) == kCapabilityCount);

bool BitDepthFits(TW_UINT16 pixelType, TW_UINT32 depth) {
  switch (pixelType) {
    case TWPT_BW: return depth == 1;
    case TWPT_GRAY:
    case TWPT_PALETTE: return depth == 4 || depth == 8;
    case TWPT_RGB: return depth == 24;
    default: return false;
  }
}
TW_UINT16 DefaultBitDepth(TW_UINT16 pixelType) {
  switch (pixelType) {
    case TWPT_BW: return 1;
    case TWPT_RGB: return 24;
    default: return 8;
  }
}

}  // namespace

int CapabilityIndex(TW_UINT16 cap) {
  for (std::size_t i = 0; i < kCapabilityCount; ++i)
    if (kCapabilities[i].cap == cap) return static_cast<int>(i);
  return -1;
}

void VirtualSource::ResetValues() {
  for (std::size_t i = 0; i < kCapabilityCount; ++i) values_[i] = kCapabilities[i].defaultValue;
}

TW_UINT32 VirtualSource::CurrentValue(TW_UINT16 cap) const {
  if (cap == CAP_FEEDERLOADED) return settings_.feederLoaded && folderFiles_.empty() ? 1 : 0;
  const int index = CapabilityIndex(cap);
  return index < 0 ? 0 : values_[index];
}

// Takes a value when the source can honour it.
bool VirtualSource::SetValue(TW_UINT16 cap, TW_UINT32 value) {
  const int index = CapabilityIndex(cap);
  if (index < 0 || !kCapabilities[index].settable) return false;
  switch (cap) {
    case CAP_XFERCOUNT: {
      // Read as the whole signed 32-bit item, as some drivers do: -1 must
      // arrive sign-extended.
      const auto count = static_cast<TW_INT32>(value);
      if (count == 0 || count < -1) return false;
      break;
    }
    case ICAP_COMPRESSION: if (value != TWCP_NONE) return false; break;
    case ICAP_UNITS: if (value != TWUN_INCHES) return false; break;
    case ICAP_XFERMECH: if (value != TWSX_NATIVE) return false; break;
    case CAP_FEEDERENABLED:
    case CAP_INDICATORS: value = (value & 0xffff) ? 1 : 0; break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const TW_FIX32 fix = Fix32FromItem(value);
      const int dpi = static_cast<int>(FromFix32(fix) + 0.5);
      if (dpi < kMinDpi || dpi > kMaxDpi) return false;
      value = static_cast<TW_UINT32>(dpi);
      break;
    }
    case ICAP_PIXELTYPE:
      value &= 0xffff;
      if (value > TWPT_PALETTE) return false;
      values_[CapabilityIndex(ICAP_BITDEPTH)] = DefaultBitDepth(static_cast<TW_UINT16>(value));
      break;
    case ICAP_BITDEPTH:
      value &= 0xffff;
      if (!BitDepthFits(static_cast<TW_UINT16>(CurrentValue(ICAP_PIXELTYPE)), value)) return false;
      break;
    default: break;
  }
  values_[index] = value;
  return true;
}

TW_UINT16 VirtualSource::ReturnOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 value) {
  const HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
  if (!block) return Fail(TWCC_LOWMEMORY);
  const TW_ONEVALUE one{itemType, value};
  std::memcpy(GlobalLock(block), &one, sizeof one);
  GlobalUnlock(block);
  cap->ConType = TWON_ONEVALUE;
  cap->hContainer = reinterpret_cast<TW_HANDLE>(block);
  return TWRC_SUCCESS;
}

TW_UINT16 VirtualSource::ReturnSupportedCaps(TW_CAPABILITY* cap) {
  const std::size_t size = offsetof(TW_ARRAY, ItemList) + kCapabilityCount * sizeof(TW_UINT16);
  const HGLOBAL block = GlobalAlloc(GHND, size);
  if (!block) return Fail(TWCC_LOWMEMORY);
  auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
  const TW_UINT16 type = TWTY_UINT16;
  const TW_UINT32 count = kCapabilityCount;
  std::memcpy(p, &type, 2);
  std::memcpy(p + 2, &count, 4);
  for (std::size_t i = 0; i < kCapabilityCount; ++i)
    std::memcpy(p + 6 + 2 * i, &kCapabilities[i].cap, 2);
  GlobalUnlock(block);
  cap->ConType = TWON_ARRAY;
  cap->hContainer = reinterpret_cast<TW_HANDLE>(block);
  return TWRC_SUCCESS;
}

TW_UINT16 VirtualSource::Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  if (settings_.refuseCapabilities) {
    Log("REFUSED 0x%04x", cap->Cap);
    return Fail(TWCC_CAPUNSUPPORTED);
  }
  const int index = CapabilityIndex(cap->Cap);
  if (index < 0) {
    Log("UNSUPPORTED 0x%04x", cap->Cap);
    return Fail(TWCC_CAPUNSUPPORTED);
  }
  const CapabilityInfo& info = kCapabilities[index];
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
      Log("GET 0x%04x", cap->Cap);
      if (cap->Cap == CAP_SUPPORTEDCAPS) return ReturnSupportedCaps(cap);
      return ReturnOneValue(cap, info.itemType, CurrentValue(cap->Cap));
    case MSG_GETDEFAULT:
      if (cap->Cap == CAP_SUPPORTEDCAPS) return ReturnSupportedCaps(cap);
      return ReturnOneValue(cap, info.itemType,
                            cap->Cap == CAP_FEEDERLOADED ? CurrentValue(cap->Cap) : info.defaultValue);
    case MSG_QUERYSUPPORT: {
      TW_INT32 support = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
      if (info.settable) support |= TWQC_SET | TWQC_RESET;
      return ReturnOneValue(cap, TWTY_INT32, static_cast<TW_UINT32>(support));
    }
    case MSG_SET: {
      // Values can be negotiated in state 4 only, before the source is
      // enabled.
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      const auto block = reinterpret_cast<HGLOBAL>(cap->hContainer);
      if (cap->ConType != TWON_ONEVALUE || !block || GlobalSize(block) < sizeof(TW_ONEVALUE))
        return Fail(TWCC_BADVALUE);
      TW_ONEVALUE one;
      const void* p = GlobalLock(block);
      if (!p) return Fail(TWCC_BADVALUE);
      std::memcpy(&one, p, sizeof one);
      GlobalUnlock(block);
      const bool typeFits = one.ItemType == info.itemType ||
                            (info.itemType == TWTY_INT16 && one.ItemType == TWTY_UINT16) ||
                            (info.itemType == TWTY_UINT16 && one.ItemType == TWTY_INT16);
      const bool taken = typeFits && SetValue(cap->Cap, one.Item);
      Log("SET 0x%04x %u %s", cap->Cap, static_cast<unsigned>(one.Item), taken ? "ok" : "refused");
      if (!taken) return Fail(info.settable ? TWCC_BADVALUE : TWCC_CAPBADOPERATION);
      if (settings_.checkStatusOnSet) {
        // "Taken, but not quite as asked", with a condition that says so.
        condition_ = TWCC_BADVALUE;
        return TWRC_CHECKSTATUS;
      }
      return TWRC_SUCCESS;
    }
    case MSG_RESET:
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      if (!info.settable) return Fail(TWCC_CAPBADOPERATION);
      values_[index] = info.defaultValue;
      if (cap->Cap == ICAP_PIXELTYPE) values_[CapabilityIndex(ICAP_BITDEPTH)] = 1;
      return ReturnOneValue(cap, info.itemType, values_[index]);
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

}  // namespace quorvex::vscan
