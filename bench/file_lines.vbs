' Text files: writes n lines to a new file in the temporary folder, reads them
' back, deletes the file; prints the count of lines read and the last one.
Dim fso, n, path, ts, i, count, last
Set fso = CreateObject("Scripting.FileSystemObject")
n = CLng(WScript.Arguments(0))
path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName())
Set ts = fso.CreateTextFile(path, True)
For i = 1 To n
   ts.WriteLine "line number " & i
Next
ts.Close
Set ts = fso.OpenTextFile(path, 1)
count = 0
last = ""
Do While Not ts.AtEndOfStream
   last = ts.ReadLine
   count = count + 1
Loop
ts.Close
fso.DeleteFile path
WScript.Echo count & " " & last
