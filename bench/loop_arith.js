// Counting loop with integer arithmetic.
var n = parseInt(WScript.Arguments(0), 10);
var s = 0;
for (var i = 1; i <= n; i++) {
   s = (s + i * 3 + i % 7) % 1000003;
}
WScript.Echo(s);
