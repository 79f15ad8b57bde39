// Text files: writes n lines to a new file in the temporary folder, reads them
// back, deletes the file; prints the count of lines read and the last one.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var n = parseInt(WScript.Arguments(0), 10);
var path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName());
var ts = fso.CreateTextFile(path, true);
for (var i = 1; i <= n; i++) {
   ts.WriteLine("line number " + i);
}
ts.Close();
ts = fso.OpenTextFile(path, 1);
var count = 0;
var last = "";
while (!ts.AtEndOfStream) {
   last = ts.ReadLine();
   count++;
}
ts.Close();
fso.DeleteFile(path);
WScript.Echo(count + " " + last);
