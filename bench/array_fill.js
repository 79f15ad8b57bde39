// Fills an array and reads it back.
var n = parseInt(WScript.Arguments(0), 10);
var a = new Array(n);
for (var i = 0; i < n; i++) {
   a[i] = i * 2;
}
var s = 0;
for (var i = 0; i < n; i++) {
   s = (s + a[i]) % 1000003;
}
WScript.Echo(s);
