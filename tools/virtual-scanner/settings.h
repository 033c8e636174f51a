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
  // Habits of real drivers that an application has to survive.
  bool checkStatusOnSet = false;     // MSG_SET answers TWRC_CHECKSTATUS (TWCC_BADVALUE)
  bool checkStatusOnEnable = false;  // cannot hide its dialog: shows it, answers CHECKSTATUS
  bool pendingUnknown = false;       // MSG_ENDXFER reports -1 until the feeder is empty
  int failTransferAt = 0;            // the native transfer of this page fails; 0: none
  int failEndTransferAt = 0;         // the first MSG_ENDXFER after this page fails; 0: none
  bool refuseCapabilities = false;   // every capability call fails
  int shortBlockAt = 0;              // this page's block is smaller than its header says
  int hugePageAt = 0;                // this page is 20000 x 30000 pixels (blank paper)
  bool noCloseRequest = false;       // never asks to be closed (MSG_CLOSEDSREQ)
  bool failCloseOnce = false;        // the first MSG_CLOSEDS fails; the source stays open
  int pauseMs = 0;                   // pause before each page, pumping messages
  std::string productName;           // the source's name; empty: the default
  std::string folder;            // scan the .bmp files of this folder instead
  std::string log;               // append a line per protocol event to this file
};

// Parses the text of a settings file.
TScanSettings ParseSettings(const std::string& text);

}  // namespace quorvex::vscan
