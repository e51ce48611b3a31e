' A VBScript host of tarnintr.dll: its collection, data fields and error
' manager are VBScript classes, so that every call the library makes on
' them goes to a foreign late-bound object (IDispatchEx under Wine).
' Run with: cscript //nologo host.vbs; the exit code is the number of
' failed checks.
Option Explicit

Dim checks, failures
checks = 0
failures = 0

Sub Check(ok, what)
  checks = checks + 1
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Class DataField
  Public Name
  Public DataType
  Public DataClass
  Private mData

  Public Default Property Get Data()
    If IsObject(mData) Then Set Data = mData Else Data = mData
  End Property
  Public Property Let Data(value)
    mData = value
  End Property
  Public Property Set Data(value)
    Set mData = value
  End Property
End Class

Class DataFields
  Private mItems
  Private mNames  ' "," & each key & "," in the order added (Wine's Dictionary has no Keys)

  Private Sub Class_Initialize()
    Set mItems = CreateObject("Scripting.Dictionary")
    mItems.CompareMode = 1
    mNames = ","
  End Sub

  Public Function Item(ByRef key)
    If Not mItems.Exists(key) Then Err.Raise 5, "DataFields", "No field " & key
    Set Item = mItems.Item(key)
  End Function
  Public Function Exists(ByRef key)
    Exists = mItems.Exists(key)
  End Function
  Public Function AddObject(ByRef field)
    If mItems.Exists(field.Name) Then
      AddObject = 457
    Else
      mItems.Add field.Name, field
      mNames = mNames & field.Name & ","
      AddObject = 0
    End If
  End Function
  Public Sub Remove(ByRef key)
    If mItems.Exists(key) Then
      mItems.Remove key
      mNames = Replace(mNames, "," & key & ",", ",", 1, 1, vbTextCompare)
    End If
  End Sub
  Public Property Get mCol()
    Set mCol = mItems
  End Property
  Public Property Get Count()
    Count = mItems.Count
  End Property
  Public Property Get Names()
    Names = mNames
  End Property
End Class

Class ErrorManager
  Public Procedures
  Public Messages
  Public SixthOmitted

  Private Sub Class_Initialize()
    Procedures = ""
    Messages = ""
    SixthOmitted = True
  End Sub

  Public Function ReportError(number, message, reported, a4, a5, a6, system, app, release, _
                              className, procedure)
    Procedures = Procedures & procedure & ";"
    Messages = Messages & message & ";"
    If VarType(a6) <> vbError Then SixthOmitted = False
    ReportError = 0
  End Function
End Class

' A collection that claims every field and raises when one is read.
Class RaisingFields
  Public Function Item(ByRef key)
    Err.Raise 5, "RaisingFields", "Item raised for " & key
  End Function
  Public Function Exists(ByRef key)
    Exists = True
  End Function
  Public Function AddObject(ByRef field)
    AddObject = 0
  End Function
  Public Sub Remove(ByRef key)
  End Sub
End Class

Function NewField(name, dataType, value)
  Dim f
  Set f = New DataField
  f.Name = name
  f.DataType = dataType
  f.Data = value
  Set NewField = f
End Function

Dim fields, errors, interp, r, text, names
Set fields = New DataFields
fields.AddObject NewField("Field1", "Long", CLng(41))
fields.AddObject NewField("Name", "String", "banana")
fields.AddObject NewField("AdmitDate", "Date", DateSerial(2024, 1, 5) + TimeSerial(13, 45, 10))
fields.AddObject NewField("Flag", "Boolean", True)
fields.AddObject NewField("Price", "Double", CCur(2.5))
fields.AddObject NewField("Small", "Integer", CByte(7))
names = fields.Names
Set errors = New ErrorManager

Set interp = CreateObject("TarnIntr.Interpreter")
Check interp.Release = "01.01.0009", "Release is " & interp.Release
Check interp.Init(fields, errors, "System", "Application") = True, "Init returns True"
Check interp.DataFields Is fields, "DataFields reads back the collection"
Check interp.objError Is errors, "objError reads back the error manager"

Set r = interp.RealizeRegularExpression("Field1 + 1")
Check r.Data = 42, "Field1 + 1 gives 42"
Check TypeName(r.Data) = "Long", "Field1 + 1 is a Long: " & TypeName(r.Data)
Check fields.Names = names, "the collection holds only its own fields: " & fields.Names

Function Value(expression)
  Dim result
  Set result = interp.RealizeRegularExpression(expression)
  If result Is Nothing Then
    Value = "<nothing>"
  Else
    Value = TypeName(result.Data) & " " & CStr(result.Data)
  End If
End Function

' The rows of script_hosts.tsv, beside this script.
Dim fso, rows, row, cols, got, want
Set fso = CreateObject("Scripting.FileSystemObject")
rows = Split(fso.OpenTextFile(fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), _
                                            "script_hosts.tsv")).ReadAll, vbLf)
For Each row In rows
  row = Replace(row, vbCr, "")
  If row <> "" And Left(row, 1) <> "#" Then
    cols = Split(row, vbTab)
    want = cols(1) & " " & cols(2)
    If cols(1) = "Nothing" Then want = "<nothing>"
    got = Value(cols(0))
    Check got = want, cols(0) & " gave " & got
    Check fields.Names = names, cols(0) & " left the collection at " & fields.Names
  End If
Next
Check errors.Procedures = "", "no reports so far: " & errors.Procedures

Set r = interp.RealizeRegularExpression("1 2")
Check r.Name = "Error", "a syntax error gives the Error field"

Set r = interp.RealizeRegularExpression("1 / 0")
Check r Is Nothing, "1 / 0 gives no field"
Check errors.Procedures = "EvaluateExpression;", "1 / 0 is reported: " & errors.Procedures
Check errors.Messages = "Error: -2147220981 - Division by zero;", "its message: " & errors.Messages
Check errors.SixthOmitted, "ReportError's sixth argument arrives omitted"
Check fields.Names = names, "1 / 0 left the collection at " & fields.Names

text = "  Field1 + 1  "
Set r = interp.RealizeRegularExpression(text)
Check text = "Field1 + 1", "the text comes back trimmed: [" & text & "]"

' Strict by name: off by default; on, a function that runs out of
' arguments is reported and gives the Error field.
Dim before
before = errors.Procedures
Check interp.Strict = False, "Strict is off by default"
Check Value("Format Field1") <> "Boolean False", "Format without its pattern gives a value"
interp.Strict = True
Check interp.Strict = True, "Strict reads back True"
Check Value("Format Field1") = "Boolean False", "strict: Format without its pattern gives the Error field"
Check errors.Procedures = before & "GetFormatArguments;", "strict reports it: " & errors.Procedures
Check fields.Names = names, "strict left the collection at " & fields.Names
interp.Strict = False
Check Value("Format Field1") <> "Boolean False", "Strict assigned False"

On Error Resume Next
interp.strExpression(99) = "x"
Check Err.Number = 9, "strExpression(99) raises 9: " & Err.Number & " " & Err.Description
Err.Clear
Set r = interp.RealizeRegularExpression()
Check Err.Number = 0, "RealizeRegularExpression without its argument raises " & Err.Number
Check r.Name = "Error", "RealizeRegularExpression without its argument gives the Error field"
Err.Clear
Dim varNumber
varNumber = 2.5
Set r = interp.RealizeRegularExpression(varNumber)
Check VarType(varNumber) = vbDouble And varNumber = 2.5, "a Double variable is left alone"
Set r = interp.RealizeRegularExpression(Null)
Check Err.Number = 0 And r.Name = "Error", "RealizeRegularExpression(Null) gives the Error field"
Err.Clear
interp.Release = "x"
Check Err.Number <> 0, "Release cannot be assigned"
Err.Clear
interp.NoSuchMember
Check Err.Number = 438, "an unknown member raises 438: " & Err.Number
Err.Clear
On Error GoTo 0

Dim otherErrors
Set otherErrors = New ErrorManager
Set interp.objError = otherErrors
Check interp.objError Is otherErrors, "objError assigned with Set"
Set interp.DataFields = fields
Check interp.DataFields Is fields, "DataFields assigned with Set"
Set r = interp.RealizeRegularExpression("1 \ 0")
Check otherErrors.Procedures = "EvaluateExpression;", "reports go to the new error manager"

Check interp.Init(New RaisingFields, errors, "System", "Application") = True, "Init again"
Set r = interp.RealizeRegularExpression("Field1 + 1")
Check r.Name = "Error", "an Item that raises gives the Error field"

' The default components of tarnhost.dll.
Dim defaults, recorder, field
Set defaults = CreateObject("ZellDFld.DataFields")
Set field = CreateObject("ZellDFld.DataField")
field.Name = "Field1"
field.DataType = "Long"
field.Data = 41
Check defaults.AddObject(field) = 0, "ZellDFld.DataFields takes a ZellDFld.DataField"
Set recorder = CreateObject("ZellErr.ErrorManager")
Check interp.Init(defaults, recorder, "System", "Application") = True, "Init with the defaults"
Check interp.RealizeRegularExpression("Field1 + 1").Data = 42, "Field1 + 1 with the defaults"
Set r = interp.RealizeRegularExpression("Field1 / 0")
Check recorder.Count = 1, "ZellErr.ErrorManager counts the report: " & recorder.Count
Check recorder.Number(1) = 150100, "its number: " & recorder.Number(1)
Check recorder.Procedure(1) = "EvaluateExpression", "its procedure: " & recorder.Procedure(1)
Check recorder.Message(1) = "Error: -2147220981 - Division by zero", "its message"
On Error Resume Next
recorder.Procedure 2
Check Err.Number = 9, "a report beyond Count raises 9: " & Err.Number
On Error GoTo 0
recorder.Clear
Check recorder.Count = 0, "Clear forgets the reports"
Check defaults.Count = 1, "the default collection holds only Field1: " & defaults.Count

Set interp = Nothing
Set r = Nothing
Check fields.Names = names, "the collection is as it was: " & fields.Names

WScript.Echo "host.vbs: " & checks & " checks, " & failures & " failed"
WScript.Quit failures
