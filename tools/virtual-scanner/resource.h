// Resource identifiers of the virtual scanner's dialog.
#pragma once

#define IDD_SCAN 100
#define IDC_RESOLUTION 101
#define IDC_PIXELTYPE 102
#define IDC_PAGES 103
