' The client of the installer tests: creates Zelk.Helper wherever it is
' registered. With an argument ("seed") it leaves one count, one safe-list entry
' and one log row; then it prints the server's path and what a seed left.
Option Explicit
Dim helper
Set helper = CreateObject("Zelk.Helper")
If WScript.Arguments.Count > 0 Then
  helper.IncrementTotalPopups 7
  helper.ProtectSite "http://kept.example.test/"
  helper.LogPopup = True
  helper.LogPopUrl "http://ads.example.test/kept.html", "http://kept.example.test/"
End If
WScript.Echo "server=" & CreateObject("WScript.Shell").RegRead("HKCR\CLSID\{65134986-1887-42F1-825B-DEF16C9BDF90}\LocalServer32\")
WScript.Echo "TotalPopups=" & helper.TotalPopups
WScript.Echo "protected=" & helper.IsUrlProtected("http://kept.example.test/page.html")
WScript.Echo "logged=" & (InStr(helper.Logs, "ads.example.test/kept.html") > 0)
