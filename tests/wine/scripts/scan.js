// The JScript twin of scan.vbs: a late-binding host that scans for real
// while the robot (started beside it) presses the window's buttons.
// Usage: cscript scan.js ROBOT FILENAME FORMAT CONVERT [ROBOT STEPS...]
var args = WScript.Arguments;
var steps = "";
for (var i = 4; i < args.length; i++) steps += " \"" + args.Item(i) + "\"";

var s = new ActiveXObject("Quorvex.Scanner");
s.Filename = args.Item(1);
s.ScanXDpi = 300;
s.ScanYDpi = 300;
s.ScanImgFormat = parseInt(args.Item(2), 10);
s.ShowScanUI = false;
s.ConvertToPdf = args.Item(3) == "1";
s.PdfTitle = "Quorvex test scan";
s.PdfAuthor = "Quorvex robot";

var shell = new ActiveXObject("WScript.Shell");
var person = shell.Exec(args.Item(0) + steps);
s.Scan();
WScript.Echo("ScanResult=" + s.ScanResult);
