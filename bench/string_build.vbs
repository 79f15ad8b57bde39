' String building with "&": lines of 100 pieces; prints the last complete line.
Dim n, last, line, i
n = CLng(WScript.Arguments(0))
last = ""
line = ""
For i = 1 To n
   line = line & "x" & i
   If i Mod 100 = 0 Then
      last = line
      line = ""
   End If
Next
WScript.Echo last
