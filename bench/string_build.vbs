' String building with "&": lines of 100 pieces, their lengths summed.
Dim n, total, line, i
n = CLng(WScript.Arguments(0))
total = 0
line = ""
For i = 1 To n
   line = line & "x" & i
   If i Mod 100 = 0 Then
      total = total + Len(line)
      line = ""
   End If
Next
WScript.Echo total + Len(line)
