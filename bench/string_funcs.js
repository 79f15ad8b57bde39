// String functions over a text of 315 characters: find, cut, replace,
// upper-case and measure in a loop; prints the sum of positions and lengths.
var n = parseInt(WScript.Arguments(0), 10);
var text = "";
for (var k = 1; k <= 7; k++) {
   text = text + "The quick brown fox jumps over the lazy dog. ";
}
var total = 0;
for (var i = 1; i <= n; i++) {
   var p = text.indexOf("fox", i % 200) + 1;
   var w = text.substr(p - 1, 40);
   var r = text.replace(/the/g, "a");
   var u = w.toUpperCase();
   total = total + p + r.length + u.length;
}
WScript.Echo(total);
