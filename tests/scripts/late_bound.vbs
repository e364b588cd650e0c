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

Dim logging
logging = helper.LogPopup
helper.LogPopup = True
helper.ClearLogs
helper.LogPopUrl "http://popup.vbs.test/", "http://source.vbs.test/"
Check InStr(helper.Logs, "<A href='http://source.vbs.test/' target=_blank>") > 0, "Logs holds the row"
helper.ClearLogs
Check InStr(helper.Logs, "No logs avaliable.") > 0, "cleared log"
helper.LogPopup = logging

helper.SetStartupOption 31337, 42
Check helper.GetStartupOption(31337) = 42, "startup option"

Set helper = Nothing
' A script error ends the host silently with code 0: only this line says the
' whole script ran.
If failures = 0 Then WScript.Echo "all checks passed"
WScript.Quit failures
