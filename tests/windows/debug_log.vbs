' Creates an Interpreter and calls Init once with the default host
' components, so that a debug log switched on in the registry writes its
' banner through ZellLog.Log. scripts/run-wine-tests.sh checks the file.
Option Explicit
Dim interp
Set interp = CreateObject("TarnIntr.Interpreter")
If interp.Init(CreateObject("ZellDFld.DataFields"), CreateObject("ZellErr.ErrorManager"), _
               "System", "Application") Then
  WScript.Echo "debug_log.vbs: Init done"
End If
