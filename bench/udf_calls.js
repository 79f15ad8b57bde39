// Calls of a user-defined function with three arguments.
function mix(a, b, c) {
   return (a + b * 2 + c) % 1000003;
}

var n = parseInt(WScript.Arguments(0), 10);
var s = 0;
for (var i = 1; i <= n; i++) {
   s = mix(s, i, 5);
}
WScript.Echo(s);
