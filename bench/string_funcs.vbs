' String functions over a text of 315 characters: find, cut, replace,
' upper-case and measure in a loop; prints the sum of positions and lengths.
Dim n, text, k, total, i, p, w, r, u
n = CLng(WScript.Arguments(0))
text = ""
For k = 1 To 7
   text = text & "The quick brown fox jumps over the lazy dog. "
Next
total = 0
For i = 1 To n
   p = InStr(i Mod 200 + 1, text, "fox")
   w = Mid(text, p, 40)
   r = Replace(text, "the", "a")
   u = UCase(w)
   total = total + p + Len(r) + Len(u)
Next
WScript.Echo total
