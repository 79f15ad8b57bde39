// A function that works on the script's variables (the closest to GoSub).
var n, s, i;

function stepit() {
   s = (s + i * 7) % 1000003;
}

n = parseInt(WScript.Arguments(0), 10);
s = 0;
for (i = 1; i <= n; i++) {
   stepit();
}
WScript.Echo(s);
