' A short client session against the registered server, as a browser-side
' component would run it: read the settings, change one, protect a site, ask
' about URLs, log a blocked pop-up and read the log back. It puts back what
' it changed.
Option Explicit
Dim helper
Set helper = CreateObject("Zelk.Helper")
WScript.Echo "Server " & CreateObject("WScript.Shell").RegRead( _
  "HKCR\CLSID\{65134986-1887-42F1-825B-DEF16C9BDF90}\LocalServer32\")

WScript.Echo "Settings"
WScript.Echo "  AutoShow       " & helper.AutoShow
WScript.Echo "  PlaySound      " & helper.PlaySound
WScript.Echo "  SoundFile      '" & helper.SoundFile & "'"
WScript.Echo "  ProtectLocal   " & helper.ProtectLocal
WScript.Echo "  ProtectHttps   " & helper.ProtectHttps
WScript.Echo "  LogPopup       " & helper.LogPopup
WScript.Echo "  CheckSoftPopup " & helper.CheckSoftPopup
WScript.Echo "  TotalPopups    " & helper.TotalPopups

Dim savedSoft
savedSoft = helper.CheckSoftPopup
helper.CheckSoftPopup = Not savedSoft
WScript.Echo "CheckSoftPopup changed to " & helper.CheckSoftPopup
helper.CheckSoftPopup = savedSoft

helper.ProtectSite "http://www.example.test/welcome"
Dim url
For Each url In Array("http://www.example.test/other", "http://example.test/", "http://intranet/", "https://bank.example.test/")
  WScript.Echo "IsUrlProtected " & url & " -> " & helper.IsUrlProtected(url)
Next
Dim entry
WScript.Echo "Safe list:"
For Each entry In helper.SafeList
  WScript.Echo "  " & entry
Next

Dim savedLogging
savedLogging = helper.LogPopup
helper.LogPopup = True
helper.LogPopUrl "http://ads.example.test/popup.html", "http://www.example.test/welcome"
helper.IncrementTotalPopups 1
WScript.Echo "Log:"
WScript.Echo helper.Logs
WScript.Echo "TotalPopups now " & helper.TotalPopups

helper.UnprotectUrl "http://www.example.test/welcome"
helper.IncrementTotalPopups -1
helper.LogPopup = savedLogging
Set helper = Nothing
WScript.Echo "session complete"
