' A late-binding VBScript host: creates Quorvex.Scanner by its program
' identifier and checks the properties it sets and reads by name.
Option Explicit
Dim failures : failures = 0
Sub Check(label, actual, expected)
  If actual <> expected Then
    WScript.Echo "FAIL " & label & ": got [" & actual & "], expected [" & expected & "]"
    failures = failures + 1
  End If
End Sub

Dim s : Set s = CreateObject("Quorvex.Scanner")
Check "ScanResult before any Scan", s.ScanResult, 0
Check "ShowScanUI default", CInt(s.ShowScanUI), -1
Check "ConvertToPdf default", CInt(s.ConvertToPdf), 0
Check "PdfCreator default", s.PdfCreator, "Quorv"
Check "PdfPaperSize default", s.PdfPaperSize, "a4"
Check "ScanXDpi default", s.ScanXDpi, 200
Check "ScanYDpi default", s.ScanYDpi, 200
Check "ScanImgFormat default", s.ScanImgFormat, 0
Check "Filename default", s.Filename, ""

s.ShowScanUI = 1
Check "ShowScanUI non-zero reads back", CInt(s.ShowScanUI), -1
s.ShowScanUI = False
Check "ShowScanUI false", CInt(s.ShowScanUI), 0
s.ScanImgFormat = 256
Check "ScanImgFormat is stored unclamped", s.ScanImgFormat, 256
s.ScanXDpi = 65736
Check "ScanXDpi is stored unclamped", s.ScanXDpi, 65736
s.Filename = "C:\Scans\Annual report.tif"
Check "Filename", s.Filename, "C:\Scans\Annual report.tif"
s.PdfTitle = " Annual report "
Check "PdfTitle kept as given", s.PdfTitle, " Annual report "
s.ConvertToPdf = True
Check "ConvertToPdf", CInt(s.ConvertToPdf), -1

' Two objects keep their own state.
Dim t : Set t = CreateObject("Quorvex.Scanner")
Check "second object's Filename", t.Filename, ""

On Error Resume Next
Dim r : r = s.NoSuchMember
Check "unknown member fails", Err.Number <> 0, True
On Error GoTo 0

If failures = 0 Then WScript.Echo "properties.vbs: all checks passed"
WScript.Quit failures
