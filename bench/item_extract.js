// Extracts every item of a 1,000-item list, over and over: the first
// argument is the number of items in all; prints their total length.
var n = parseInt(WScript.Arguments(0), 10);
var list = "item1";
for (var i = 2; i <= 1000; i++) {
   list = list + ",item" + i;
}
var total = 0, items, x;
for (var k = 0; k < n; k++) {
   if (k % 1000 == 0) items = list.split(",");
   x = items[k % 1000];
   total = total + x.length;
}
WScript.Echo(total);
