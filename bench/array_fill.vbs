' Fills an array and reads it back.
Dim n, a, s, i
n = CLng(WScript.Arguments(0))
ReDim a(n - 1)
For i = 0 To n - 1
   a(i) = i * 2
Next
s = 0
For i = 0 To n - 1
   s = (s + a(i)) Mod 1000003
Next
WScript.Echo s
