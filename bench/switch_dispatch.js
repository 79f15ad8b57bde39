// switch dispatch over five cases.
var n = parseInt(WScript.Arguments(0), 10);
var s = 0;
for (var i = 1; i <= n; i++) {
   switch (i % 5) {
      case 0: s = s + 1; break;
      case 1: s = s + 3; break;
      case 2: s = s * 2; break;
      case 3: s = s - 7; break;
      case 4: s = (s + i) % 1000003; break;
   }
}
WScript.Echo(s);
