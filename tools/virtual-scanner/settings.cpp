#include "settings.h"

#include <charconv>
#include <string_view>

namespace quorvex::vscan {

namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

void ReadInt(std::string_view value, int& target) {
  int parsed = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed);
  if (ec == std::errc() && end == value.data() + value.size() && parsed >= 0) target = parsed;
}

void ReadBool(std::string_view value, bool& target) {
  if (value == "1" || value == "true" || value == "yes") target = true;
  if (value == "0" || value == "false" || value == "no") target = false;
}

}  // namespace

TScanSettings ParseSettings(const std::string& text) {
  TScanSettings settings;
  std::string_view rest(text);
  while (!rest.empty()) {
    const auto eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key == "pages") ReadInt(value, settings.pages);
    else if (key == "cancel_at") ReadInt(value, settings.cancelAt);
    else if (key == "refuse_imageinfo") ReadBool(value, settings.refuseImageInfo);
    else if (key == "fail_enable") ReadBool(value, settings.failEnable);
    else if (key == "feeder_loaded") ReadBool(value, settings.feederLoaded);
    else if (key == "null_handle") ReadBool(value, settings.nullHandle);
    else if (key == "checkstatus_set") ReadBool(value, settings.checkStatusOnSet);
    else if (key == "checkstatus_enable") ReadBool(value, settings.checkStatusOnEnable);
    else if (key == "pending_unknown") ReadBool(value, settings.pendingUnknown);
    else if (key == "fail_transfer_at") ReadInt(value, settings.failTransferAt);
    else if (key == "fail_endxfer_at") ReadInt(value, settings.failEndTransferAt);
    else if (key == "refuse_caps") ReadBool(value, settings.refuseCapabilities);
    else if (key == "short_block_at") ReadInt(value, settings.shortBlockAt);
    else if (key == "huge_page_at") ReadInt(value, settings.hugePageAt);
    else if (key == "no_closereq") ReadBool(value, settings.noCloseRequest);
    else if (key == "fail_closeds_once") ReadBool(value, settings.failCloseOnce);
    else if (key == "pause_ms") ReadInt(value, settings.pauseMs);
    else if (key == "product_name") settings.productName = value.substr(0, 32);
    else if (key == "folder") settings.folder = value;
    else if (key == "log") settings.log = value;
  }
  return settings;
}

}  // namespace quorvex::vscan
