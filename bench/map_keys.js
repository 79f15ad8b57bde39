// Inserts n keys into an object used as a dictionary and looks every one of
// them up; prints the number of keys and a checksum of the values found.
var n = parseInt(WScript.Arguments(0), 10);
var d = {}, count = 0, s = 0, i;
for (i = 1; i <= n; i++) {
   if (!d.hasOwnProperty("key" + i)) count++;
   d["key" + i] = i;
}
for (i = 1; i <= n; i++) {
   s = (s + d["key" + i]) % 1000003;
}
WScript.Echo(count + " " + s);
