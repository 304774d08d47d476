// An example page for the Brindlex program: a small updater that shows the machine's
// facts, remembers a setting, checks for a runtime in the registry, downloads an
// installer with a progress bar, checks it, puts it in place and runs it. It calls
// each of the 25 native functions once.
//
// A plain script (no import or export), so its top-level functions are globals of the
// page, which the program's callbacks need. Build with: tsc -p sdk/example

const installerUrl = "https://downloads.example.com/brindlex/runtime-setup.exe";
const installerMd5 = "140b6dfdb16172c416803f2448e920e6";
const runtimeKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

function element(id: string): HTMLElement {
  const found = document.getElementById(id);
  if (!found) throw new Error("the page lacks #" + id);
  return found;
}

function say(text: string): void {
  element("status").textContent = text;
}

// The installer goes to the program's temporary folder. A download into a folder that
// does not exist never calls back, and no native function creates folders.
function installerPath(): string {
  return getFullPath("%TEMP%\\brindlex-runtime-setup.exe");
}

function partPath(): string {
  return installerPath() + ".new";
}

// Window band: the program's window has no frame of its own.
function wireWindowButtons(): void {
  element("minimize").onclick = () => minimize();
  element("close").onclick = () => close();
  element("maximize").onclick = () => {
    // The in-memory store lives as long as the program: right for window state.
    if (getData("maximized") === "yes") {
      restore();
      setData("maximized", "no");
    } else {
      maximize();
      setData("maximized", "yes");
    }
  };
  // The arrow keys nudge the window, ten pixels a press.
  document.addEventListener("keydown", (event: KeyboardEvent) => {
    const steps: { [key: string]: [number, number] } = {
      ArrowLeft: [-10, 0],
      ArrowRight: [10, 0],
      ArrowUp: [0, -10],
      ArrowDown: [0, 10],
    };
    const step = steps[event.key];
    if (step) moveWindow(step[0], step[1]);
  });
}

function showFacts(): void {
  const bits: 32 | 64 = getSysBit();
  const facts = [
    "Windows: " + (getSysVersion() || "unknown") + ", " + bits + "-bit",
    "Program: " + getModuleFilePath() + " " + (getModuleFileVersion() || "(no version)"),
    "Device: " + getDeviceNumber(),
    "Installation: " + (getCid() || "no cid"),
  ];
  element("facts").textContent = facts.join("\n");
}

// The chosen channel outlives the program in config.data.
function wireChannel(): void {
  const channel = element("channel") as HTMLSelectElement;
  channel.value = getCacheData("channel") || "stable";
  channel.onchange = () => {
    if (!setCacheData("channel", channel.value)) {
      say("The setting could not be saved; it holds until the program ends.");
    }
  };
}

function runtimeInstalled(): boolean {
  // The runtime writes its 64-bit entry on 64-bit Windows.
  const view = getSysBit() === 64 ? 64 : 32;
  return hasRegisterPath(runtimeKey, view) && hasRegisterKey(runtimeKey, "Release", view);
}

// Progress of the installer's download: 1 to 100.
function onInstallerProgress(percent: number): void {
  (element("progress") as HTMLProgressElement).value = percent;
}

// End of the installer's download: the file is closed and in place before this runs.
function onInstallerDownloaded(result: BrindlexOutcome): void {
  if (result !== 1 || !fileExists(partPath())) {
    say("The download failed; try again later.");
    return;
  }
  if (getFileMd5(partPath()) !== installerMd5) {
    removeFile(partPath());
    say("The download is damaged; try again later.");
    return;
  }
  // replaceFile needs an existing target; the first download is moved into place.
  const placed = fileExists(installerPath())
    ? replaceFile(partPath(), installerPath())
    : moveFile(partPath(), installerPath());
  if (!placed) {
    say("The installer could not be put in place.");
    return;
  }
  say("Installing...");
  // Shown normally (1), and the callback waits until the installer has ended.
  exec(installerPath(), "/quiet /norestart", 1, 1, "onInstallerEnded");
}

function onInstallerEnded(result: number): void {
  say(result === 1 ? (runtimeInstalled() ? "Installed." : "The installer ended without installing.")
                   : "The installer could not be started.");
}

function startInstall(): void {
  say("Downloading...");
  download(installerUrl + "?channel=" + encodeURIComponent(getCacheData("channel")),
           partPath(), "onInstallerProgress", "onInstallerDownloaded");
}

function start(): void {
  wireWindowButtons();
  wireChannel();
  showFacts();
  if (runtimeInstalled()) {
    say("The runtime is installed.");
    return;
  }
  element("install").onclick = startInstall;
  say("The runtime is missing.");
}

document.addEventListener("DOMContentLoaded", start);
