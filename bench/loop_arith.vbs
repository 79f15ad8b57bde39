' Counting loop with integer arithmetic.
Dim n, s, i
n = CLng(WScript.Arguments(0))
s = 0
For i = 1 To n
   s = (s + i * 3 + i Mod 7) Mod 1000003
Next
WScript.Echo s
