' A subroutine that works on the script's variables (the closest to GoSub).
Dim n, s, i

Sub stepit()
   s = (s + i * 7) Mod 1000003
End Sub

n = CLng(WScript.Arguments(0))
s = 0
For i = 1 To n
   stepit
Next
WScript.Echo s
