' The server's members called by name from VBScript (late bound); the flags and
' IncrementTotalPopups: late_bound.js.
Option Explicit
Dim helper, failures
failures = 0

Sub Check(condition, what)
  If Not condition Then
    WScript.Echo "FAILED: " & what
    failures = failures + 1
  End If
End Sub

Set helper = CreateObject("Zelk.Helper")

' Names are matched in any letter case.
Check helper.autoshow = helper.AutoShow, "lower-case property name"

Dim sound
sound = helper.SoundFile
helper.SoundFile = "C:\sounds\blocked.wav"
Check helper.SoundFile = "C:\sounds\blocked.wav", "SoundFile round trip"
helper.SoundFile = sound

helper.ProtectPage "http://vbs.test/page"
Check helper.IsUrlProtected("http://VBS.TEST/page/?q=1") = 1, "page entry protects"
Dim list, found, entry
list = helper.SafeList
found = False
For Each entry In list
  If entry = "http://vbs.test/page" Then found = True
Next
Check found, "SafeList holds the page"
Check LBound(list) = 0, "SafeList lower bound"
helper.ProtectSite "http://vbs.test/other"
Check helper.IsUrlProtected("http://vbs.test/page") = 2, "site entry replaced the page entry"
helper.ProtectDomain "http://w.vbs-domain.test/"
Check helper.IsUrlProtected("http://x.y.vbs-domain.test/z") = 4, "domain entry protects"
helper.UnprotectUrl "http://vbs.test/page"
helper.UnprotectUrl "http://vbs-domain.test/"
Check helper.IsUrlProtected("http://vbs.test/page") = 0, "unprotected"

On Error Resume Next
Dim code
code = helper.IsUrlProtected("no scheme here")
Check Err.Number = 5, "a URL that does not decompose is an invalid argument (got " & Err.Number & ")"
Err.Clear
helper.NoSuchMember
Check Err.Number <> 0, "an unknown name fails"
Err.Clear
On Error GoTo 0

Dim logging
logging = helper.LogPopup
helper.LogPopup = True
helper.ClearLogs
helper.LogPopUrl "http://popup.vbs.test/", "http://source.vbs.test/"
Check InStr(helper.Logs, "<A href='http://source.vbs.test/' target=_blank>") > 0, "Logs holds the row"
Check Right(helper.Logs, 1) = vbLf, "rows end in LF"
helper.ClearLogs
Check InStr(helper.Logs, "No logs avaliable.") > 0, "cleared log"
helper.LogPopup = logging

helper.SetStartupOption 31337, 42
Check helper.GetStartupOption(31337) = 42, "startup option"
Dim fallback
If helper.AutoShow Then fallback = 1 Else fallback = 0
Check helper.GetStartupOption(31337) = fallback, "startup option taken once"

Set helper = Nothing
' A script error ends the host silently with code 0: only this line says the
' whole script ran.
If failures = 0 Then WScript.Echo "all checks passed"
WScript.Quit failures
