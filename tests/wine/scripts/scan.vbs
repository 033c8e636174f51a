' A late-binding host that scans for real: a robot (qv_robot.exe, started
' beside this host) presses the window's buttons as a person would.
' Usage: cscript scan.vbs ROBOT FILENAME FORMAT CONVERT [ROBOT STEPS...]
' Prints ScanResult; the caller checks the files with peer tools. Wine's
' script host reports neither script errors nor the robot's exit code: a
' robot that fails leaves the window open, and the caller's time limit and
' its checks of the output catch it.
Set args = WScript.Arguments
steps = ""
For i = 4 To args.Count - 1
  steps = steps & " """ & args(i) & """"
Next

' QV_SCAN_DPI and QV_SCAN_PAPER, when set, replace 300 dpi and A4 paper.
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
dpi = 300
If env("QV_SCAN_DPI") <> "" Then dpi = CLng(env("QV_SCAN_DPI"))

Set s = CreateObject("Quorvex.Scanner")
s.Filename = args(1)
s.ScanXDpi = dpi
s.ScanYDpi = dpi
If env("QV_SCAN_PAPER") <> "" Then s.PdfPaperSize = env("QV_SCAN_PAPER")
s.ScanImgFormat = CLng(args(2))
s.ShowScanUI = False
s.ConvertToPdf = (args(3) = "1")
s.PdfTitle = "Quorvex test scan"
s.PdfAuthor = "Quorvex robot"

Set shell = CreateObject("WScript.Shell")
Set person = shell.Exec(args(0) & steps)
s.Scan
WScript.Echo "ScanResult=" & s.ScanResult
