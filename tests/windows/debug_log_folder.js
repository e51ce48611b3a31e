// Sets DebugLogPath under the key given to a folder whose name is not
// ASCII, calls Init once and says whether the log was written there.
// scripts/run-wine-tests.sh runs it. (The setting is read as ANSI text, so
// the name keeps to the ANSI code page.)
var key = WScript.Arguments(0);
var folder = "C:\\tarnlog\\" + "Donn" + String.fromCharCode(0xE9) + "es";
new ActiveXObject("WScript.Shell").RegWrite(key + "\\DebugLogPath", folder, "REG_SZ");
var interp = new ActiveXObject("TarnIntr.Interpreter");
interp.Init(new ActiveXObject("ZellDFld.DataFields"), new ActiveXObject("ZellErr.ErrorManager"),
            "System", "Application");
var found = new ActiveXObject("Scripting.FileSystemObject").FileExists(folder + "\\Log.log");
WScript.Echo("debug_log_folder.js: " + (found ? "logged" : "no Log.log"));
