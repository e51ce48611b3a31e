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

var cases = [
  "Field1 + 1", "number 42",
  "Field1 * 2", "number 82",
  "Name & \"!\"", "string banana!",
  "Name = \"banana\"", "boolean true",
  "Format AdmitDate, \"yyyymmdd\"", "string 20240105",
  "FormatHL7DateTime AdmitDate, 0, , True", "string 20240105134510",
  "Replace Name, \"a\" , \"o\" , 1, 10, 0", "string bonono",
  "IF Field1 > 40 THEN \"big\" ELSE \"small\" END IF", "string big",
  "IF Flag THEN 1 ELSE 2 END IF", "number 1",
  "(Field1 + 1) \\ 2", "number 21",
  "Price * 2", "number 5",
  "1 2", "boolean false",
  "Unknown + 1", "boolean false",
  "", "<nothing>"];
for (var i = 0; i < cases.length; i += 2) {
  var got = value(cases[i]);
  check(got === cases[i + 1], cases[i] + " gave " + got);
  check(fields.Names() === names, cases[i] + " left the collection at " + fields.Names());
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
