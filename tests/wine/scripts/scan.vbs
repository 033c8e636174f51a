' A late-binding host that scans for real: a robot (qv_robot.exe, started
' beside this host) presses the window's buttons as a person would.
' Usage: cscript scan.vbs ROBOT FILENAME FORMAT CONVERT [ROBOT STEPS...]
' Prints ScanResult; the caller checks the files with peer tools.
Option Explicit
Dim args : Set args = WScript.Arguments
Dim robot : robot = args(0)
Dim steps, i
For i = 4 To args.Count - 1
  steps = steps & " """ & args(i) & """"
Next

Dim shell : Set shell = CreateObject("WScript.Shell")
Dim s : Set s = CreateObject("Quorvex.Scanner")
s.Filename = args(1)
s.ScanXDpi = 300
s.ScanYDpi = 300
s.ScanImgFormat = CLng(args(2))
s.ShowScanUI = False
s.ConvertToPdf = (args(3) = "1")
s.PdfTitle = "Quorvex test scan"
s.PdfAuthor = "Quorvex robot"
s.PdfPaperSize = "a4"

Dim person : Set person = shell.Exec("""" & robot & """" & steps)
s.Scan
Do While person.Status = 0
  WScript.Sleep 50
Loop
If person.ExitCode <> 0 Then
  WScript.Echo "robot failed: " & person.StdErr.ReadAll
  WScript.Quit 2
End If
WScript.Echo "ScanResult=" & s.ScanResult
