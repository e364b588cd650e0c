// The service test's client: "client.js SECONDS" creates Zelk.Helper, counts
// one pop-up, holds the object SECONDS, then reads the count again. It prints
// the count it read, or the status of the call that failed.
// Wine's cscript has no WScript.Sleep: ping waits a second between echoes.
var seconds = Number(WScript.Arguments(0));
try {
  var helper = new ActiveXObject("Zelk.Helper");
  helper.IncrementTotalPopups(1);
  new ActiveXObject("WScript.Shell").Run("ping -n " + (seconds + 1) + " 127.0.0.1", 0, true);
  WScript.Echo("TotalPopups=" + helper.TotalPopups);
} catch (e) {
  WScript.Echo("failed=0x" + (e.number >>> 0).toString(16).toUpperCase());
}
