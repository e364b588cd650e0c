' The client of the installer tests: creates Zelk.Helper wherever it is
' registered. "seed" leaves one count, one safe-list entry and one log row;
' "show" prints the server's path and what a seed left, one fact per line.
Option Explicit
Dim helper, shell
Set helper = CreateObject("Zelk.Helper")
If WScript.Arguments.Count > 0 Then
  If WScript.Arguments(0) = "seed" Then
    helper.IncrementTotalPopups 7
    helper.ProtectSite "http://kept.example.test/"
    helper.LogPopup = True
    helper.LogPopUrl "http://ads.example.test/kept.html", "http://kept.example.test/"
  End If
End If
Set shell = CreateObject("WScript.Shell")
WScript.Echo "server=" & shell.RegRead("HKCR\CLSID\{65134986-1887-42F1-825B-DEF16C9BDF90}\LocalServer32\")
WScript.Echo "TotalPopups=" & helper.TotalPopups
WScript.Echo "protected=" & helper.IsUrlProtected("http://kept.example.test/page.html")
WScript.Echo "logged=" & (InStr(helper.Logs, "ads.example.test/kept.html") > 0)
