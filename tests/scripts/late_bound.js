// The server's members called by name from JScript (late bound); the list, the
// log and the startup options: late_bound.vbs.
// JScript keeps a member's failure status in the exception's number.
var E_INVALIDARG = -2147024809;
var failures = 0;
function check(condition, what) {
  if (!condition) {
    WScript.Echo("FAILED: " + what);
    failures++;
  }
}

var helper = new ActiveXObject("Zelk.Helper.1");

var flags = ["AutoShow", "PlaySound", "ProtectLocal", "ProtectHttps", "LogPopup", "CheckSoftPopup"];
for (var i = 0; i < flags.length; i++) {
  var name = flags[i];
  var saved = helper[name];
  helper[name] = !saved;
  check(helper[name] === !saved, name + " put " + !saved);
  helper[name] = saved;
}

var total = helper.TotalPopups;
helper.IncrementTotalPopups(-1);
check(helper.TotalPopups === total - 1, "IncrementTotalPopups(-1)");
helper.IncrementTotalPopups(1);

var savedLocal = helper.ProtectLocal, savedHttps = helper.ProtectHttps;
// Each setting protects its own kind of page only.
helper.ProtectLocal = true;
helper.ProtectHttps = false;
check(helper.IsUrlProtected("file:///C:/x.htm") === 8, "local file");
check(helper.IsUrlProtected("https://js.test/") === 0, "secure page with its setting off");
helper.ProtectLocal = false;
helper.ProtectHttps = true;
check(helper.IsUrlProtected("https://js.test/") === 16, "secure page");
check(helper.IsUrlProtected("http://intranet/") === 0, "local page with its setting off");
helper.ProtectSite("js.test/x");
check(helper.IsUrlProtected("http://js.test/anything") === 2, "site entry (http:// added)");
helper.UnprotectUrl("http://js.test/");
check(helper.IsUrlProtected("http://js.test/anything") === 0, "unprotected");
var status = 0;
try {
  helper.UnprotectUrl("js.test/x");
} catch (e) {
  status = e.number;
}
check(status === E_INVALIDARG, "UnprotectUrl adds no prefix");
helper.ProtectLocal = savedLocal;
helper.ProtectHttps = savedHttps;

helper = null;
CollectGarbage();
// A script error ends the host silently with code 0: only this line says the
// whole script ran.
if (failures === 0) WScript.Echo("all checks passed");
WScript.Quit(failures);
