' Select Case dispatch over five cases.
Dim n, s, i
n = CLng(WScript.Arguments(0))
s = 0
For i = 1 To n
   Select Case i Mod 5
      Case 0
         s = s + 1
      Case 1
         s = s + 3
      Case 2
         s = s * 2
      Case 3
         s = s - 7
      Case 4
         s = (s + i) Mod 1000003
   End Select
Next
WScript.Echo s
