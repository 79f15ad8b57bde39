// String building with "+": lines of 100 pieces, their lengths summed.
var n = parseInt(WScript.Arguments(0), 10);
var total = 0;
var line = "";
for (var i = 1; i <= n; i++) {
   line = line + "x" + i;
   if (i % 100 == 0) {
      total = total + line.length;
      line = "";
   }
}
WScript.Echo(total + line.length);
