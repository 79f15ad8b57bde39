' Calls of a user-defined function with three arguments.
Function mix(a, b, c)
   mix = (a + b * 2 + c) Mod 1000003
End Function

Dim n, s, i
n = CLng(WScript.Arguments(0))
s = 0
For i = 1 To n
   s = mix(s, i, 5)
Next
WScript.Echo s
