// A JScript host of tarnintr.dll: its collection, data fields and error
// manager are JScript objects, which answer only through IDispatchEx and
// whose plain properties refuse a call made as a method.
// Run with: cscript //nologo host.js; the exit code is the number of
// failed checks.
var checks = 0, failures = 0;

function check(ok, what) {
  checks++;
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

// A field is a function object: calling it (its default member, as the
// library reads a field's value) gives its Data.
function DataField(name, dataType, data) {
  var field = function () { return field.Data; };
  field.Name = name;
  field.DataType = dataType;
  field.DataClass = "";
  field.Data = data;
  return field;
}

// Keys compare without regard to letter case, as the library's own do.
function DataFields() {
  this.items = {};
  this.order = [];
}
DataFields.prototype.Item = function (key) {
  var f = this.items[String(key).toUpperCase()];
  if (f === undefined) throw new Error(5, "No field " + key);
  return f;
};
DataFields.prototype.Exists = function (key) {
  return this.items[String(key).toUpperCase()] !== undefined;
};
DataFields.prototype.AddObject = function (field) {
  var key = String(field.Name).toUpperCase();
  if (this.items[key] !== undefined) return 457;
  this.items[key] = field;
  this.order.push(String(field.Name));
  return 0;
};
DataFields.prototype.Remove = function (key) {
  var k = String(key).toUpperCase();
  if (this.items[k] === undefined) return;
  delete this.items[k];
  for (var i = 0; i < this.order.length; i++)
    if (this.order[i].toUpperCase() === k) {
      this.order.splice(i, 1);
      break;
    }
};
DataFields.prototype.mCol = function () { return this; };
DataFields.prototype.Names = function () { return this.order.join(","); };

function ErrorManager() {
  this.procedures = "";
  this.messages = "";
}
ErrorManager.prototype.ReportError = function (number, message, reported, a4, a5, a6, system,
                                               app, release, className, procedure) {
  this.procedures += procedure + ";";
  this.messages += message + ";";
  return 0;
};

var fields = new DataFields();
fields.AddObject(DataField("Field1", "Long", 41));
fields.AddObject(DataField("Name", "String", "banana"));
fields.AddObject(DataField("AdmitDate", "Date", "1/5/2024 13:45:10"));
fields.AddObject(DataField("Flag", "Boolean", true));
fields.AddObject(DataField("Price", "Double", 2.5));
fields.AddObject(DataField("Small", "Integer", 7));
var names = fields.Names();
var errors = new ErrorManager();

var interp = WScript.CreateObject("TarnIntr.Interpreter");
check(interp.Release === "01.01.0009", "Release is " + interp.Release);
check(interp.Init(fields, errors, "System", "Application") === true, "Init returns true");
check(interp.DataFields === fields, "DataFields reads back the collection");
check(interp.objError === errors, "objError reads back the error manager");

function value(text) {
  var r = interp.RealizeRegularExpression(text);
  if (r === null) return "<nothing>";
  return typeof r.Data + " " + String(r.Data);
}

// The rows of script_hosts.tsv, beside this script: JScript sees the kinds
// of numbers as one.
var kinds = { Long: "number", Integer: "number", Double: "number", Single: "number",
              String: "string", Boolean: "boolean" };
var fso = new ActiveXObject("Scripting.FileSystemObject");
var rows = fso.OpenTextFile(fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName),
                                          "script_hosts.tsv")).ReadAll().split("\n");
for (var i = 0; i < rows.length; i++) {
  var row = rows[i].replace(/\r$/, "");
  if (row === "" || row.charAt(0) === "#") continue;
  var cols = row.split("\t");
  var want = cols[1] === "Nothing" ? "<nothing>" : kinds[cols[1]] + " " + cols[2].toLowerCase();
  var got = value(cols[0]);
  check(got.toLowerCase() === want, cols[0] + " gave " + got);
  check(fields.Names() === names, cols[0] + " left the collection at " + fields.Names());
}
check(errors.procedures === "", "no reports so far: " + errors.procedures);

check(value("1 / 0") === "<nothing>", "1 / 0 gives no field");
check(errors.procedures === "EvaluateExpression;", "1 / 0 is reported: " + errors.procedures);
check(errors.messages === "Error: -2147220981 - Division by zero;", "its message: " + errors.messages);

interp.Strict = true;
check(interp.Strict === true, "Strict reads back true");
check(value("Format Field1") === "boolean false", "strict: Format without its pattern");
check(errors.procedures === "EvaluateExpression;GetFormatArguments;",
      "strict reports it: " + errors.procedures);
interp.Strict = false;

var raised = 0;
try {
  interp.NoSuchMember();
} catch (e) {
  raised = e.number & 0xFFFF;
}
check(raised === 438, "an unknown member raises 438: " + raised);

interp = null;
CollectGarbage();
check(fields.Names() === names, "the collection is as it was: " + fields.Names());

WScript.Echo("host.js: " + checks + " checks, " + failures + " failed");
WScript.Quit(failures);
