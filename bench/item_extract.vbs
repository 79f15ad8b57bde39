' Extracts every item of a 1,000-item list, over and over: the first
' argument is the number of items in all; prints their total length.
Dim n, list, i, k, total, items, x
n = CLng(WScript.Arguments(0))
list = "item1"
For i = 2 To 1000
   list = list & ",item" & i
Next
total = 0
For k = 0 To n - 1
   If k Mod 1000 = 0 Then items = Split(list, ",")
   x = items(k Mod 1000)
   total = total + Len(x)
Next
WScript.Echo total
