// Helpers for end-to-end pages (ES5). The driver reads the console lines.

// Writes "@name <JSON of value>"; undefined is written as the word undefined.
function report(name, value) {
  console.log("@" + name + " " + (value === undefined ? "undefined" : JSON.stringify(value)));
}

// Runs the functions one after the other, gap milliseconds apart.
function steps(gap, list) {
  var i = 0;
  function next() {
    if (i >= list.length) return;
    var step = list[i];
    i += 1;
    step();
    setTimeout(next, gap);
  }
  setTimeout(next, 0);
}

// Keeps the script thread busy (nothing else runs meanwhile).
function busyWait(ms) {
  var end = new Date().getTime() + ms;
  while (new Date().getTime() < end) {}
}

// Ends the run: the driver sees "@done", then the program closes.
function finish() {
  report("done", true);
  close();
}
