// String building with "+": lines of 100 pieces; prints the last complete line.
var n = parseInt(WScript.Arguments(0), 10);
var last = "";
var line = "";
for (var i = 1; i <= n; i++) {
   line = line + "x" + i;
   if (i % 100 == 0) {
      last = line;
      line = "";
   }
}
WScript.Echo(last);
