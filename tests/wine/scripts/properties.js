// A late-binding JScript host: the same object through a different engine.
var failures = 0;
function check(label, actual, expected) {
  if (actual !== expected) {
    WScript.Echo("FAIL " + label + ": got [" + actual + "], expected [" + expected + "]");
    failures++;
  }
}

var s = new ActiveXObject("Quorvex.Scanner");
check("ScanResult before any Scan", s.ScanResult, 0);
check("ShowScanUI default", s.ShowScanUI, true);
check("PdfCreator default", s.PdfCreator, "Quorv");
check("ScanXDpi default", s.ScanXDpi, 200);
s.ScanYDpi = 300;
check("ScanYDpi", s.ScanYDpi, 300);
s.ShowScanUI = 7;
check("ShowScanUI non-zero reads back true", s.ShowScanUI, true);
s.PdfKeywords = "alpha, beta";
check("PdfKeywords", s.PdfKeywords, "alpha, beta");
s.PdfPaperSize = " Letter ";
check("PdfPaperSize kept as given", s.PdfPaperSize, " Letter ");

if (failures === 0) WScript.Echo("properties.js: all checks passed");
WScript.Quit(failures);
