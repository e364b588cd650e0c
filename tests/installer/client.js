// client.js STEP...: creates Zelk.Helper, then evaluates each step, a JScript
// member expression on it ("TotalPopups", "AutoShow=false", "ProtectSite('U')"),
// and prints "Member=result" for each that reads something. "N*STEP" takes a
// step N times; "wait(SECONDS)" holds the object meanwhile. The first step that
// fails prints the call's status and ends the client with 1.
// Wine's cscript has no WScript.Sleep: ping waits a second between echoes.
function wait(seconds) {
  new ActiveXObject("WScript.Shell").Run("ping -n " + (seconds + 1) + " 127.0.0.1", 0, true);
}
var step = "CreateObject", helper = null, status = 0, result;
try {
  helper = new ActiveXObject("Zelk.Helper");
  for (var i = 0; i < WScript.Arguments.length; i++) {
    var parts = /^(?:(\d+)\*)?((\w+).*)$/.exec(step = WScript.Arguments(i));
    var expression = (parts[3] == "wait" ? "" : "helper.") + parts[2];
    for (var n = Number(parts[1] || 1); n > 0; n--) result = eval(expression);
    if (result !== undefined && step.indexOf("=") < 0) WScript.Echo(parts[3] + "=" + result);
  }
} catch (e) {
  WScript.Echo(step + " failed=0x" + (e.number >>> 0).toString(16).toUpperCase());
  status = 1;
}
// Wine's cscript does not release what it holds at WScript.Quit, nor does its
// COM notice a dead client: the server would never go idle.
helper = null;
CollectGarbage();
WScript.Quit(status);
