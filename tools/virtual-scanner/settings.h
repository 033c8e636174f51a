// The behaviours of the virtual scanner, read from a small text file named
// by the environment variable QUORVEX_VSCAN_SETTINGS: one "key = value" a
// line, '#' starts a comment. Unknown keys are ignored so that old files keep
// working; a bad number leaves the default.
#pragma once

#include <string>

namespace quorvex::vscan {

struct TScanSettings {
  int pages = 3;                 // sheets in the feeder
  int cancelAt = 0;              // 1-based page whose transfer is cancelled; 0: none
  bool refuseImageInfo = false;  // DAT_IMAGEINFO always fails
  bool failEnable = false;       // MSG_ENABLEDS fails
  bool feederLoaded = false;     // what the paper sensor of the feeder reports
  bool nullHandle = false;       // native transfers report success without an image
  std::string folder;            // scan the .bmp files of this folder instead
  std::string log;               // append a line per protocol event to this file
};

// Parses the text of a settings file.
TScanSettings ParseSettings(const std::string& text);

}  // namespace quorvex::vscan
