' Inserts n keys into a dictionary (keys compared without regard to case,
' as in a map) and looks every one of them up; prints the number of keys and
' a checksum of the values found.
Dim n, d, i, s
n = CLng(WScript.Arguments(0))
Set d = CreateObject("Scripting.Dictionary")
d.CompareMode = 1
For i = 1 To n
   d("key" & i) = i
Next
s = 0
For i = 1 To n
   s = (s + d("key" & i)) Mod 1000003
Next
WScript.Echo d.Count & " " & s
