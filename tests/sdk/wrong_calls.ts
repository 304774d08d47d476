// Calls the declarations must refuse, each marked with the error the type checker must
// give on its line, beside calls they must accept (no mark). check_type_errors.py
// compares the checker's errors with the marks, line by line.

function onProgress(percent: number): void {}
function onFinished(result: BrindlexOutcome): void {}
function onText(text: string): void {}
var notAFunction = 5;
const url = "https://downloads.example.com/a.exe";
const target = "C:\\Users\\Public\\a.exe";

// download: four arguments, the last two names of global functions that take the value.
download(url, target, "onProgress", "onFinished");
download(url, target);  // error TS2554
download(url, target, "onFinished");  // error TS2554
download(url, target, "onProgres", "onFinished");  // error TS2345
download(url, target, "onFinished", "onFinished");  // error TS2345
download(url, target, "onProgress", "onText");  // error TS2345
download(url, target, "onProgress", "notAFunction");  // error TS2345
download(url, 5, "onProgress", "onFinished");  // error TS2345
const fromVariable: string = "onFinished";
download(url, target, fromVariable, fromVariable);
const downloadResult: boolean = download(url, target, "onProgress", "onFinished");  // error TS2322

// exec: five arguments, numbers for the show command and the wait flag.
exec(target, "/quiet", 1, 1, "onFinished");
exec(target, "/quiet", 1, 1);  // error TS2554
exec(target, "/quiet", "1", 1, "onFinished");  // error TS2345
exec(target, "/quiet", 1, true, "onFinished");  // error TS2345
exec(target, "/quiet", 1, 1, "onFinishd");  // error TS2345

// Arguments the handlers read although the engine is told fewer.
getFileMd5(target);
getFileMd5();  // error TS2554

// Counts and kinds of the others.
moveWindow(10);  // error TS2554
moveWindow(10, "5");  // error TS2345
setCacheData("key", 5);  // error TS2345
hasRegisterPath("HKEY_LOCAL_MACHINE\\SOFTWARE", "64");  // error TS2345
hasRegisterKey("HKEY_LOCAL_MACHINE\\SOFTWARE", 64);  // error TS2554
removeFile(target, target + ".old");  // error TS2554
minimize(true);  // error TS2554

// Results.
const stored: string = getData("key");  // error TS2322
const storedOrNot: string | undefined = getData("key");
const cached: string = getCacheData("key");
const saved: boolean = setCacheData("key", "value");
const bits: 32 | 64 = getSysBit();
const bitsText: string = getSysBit();  // error TS2322
if (getSysVersion() === "vista") {}  // error TS2367
const closeResult: boolean = close();  // error TS2322
