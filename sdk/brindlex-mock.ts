/// <reference path="brindlex.d.ts" />
// A stand-in for the Brindlex program in an ordinary browser: the 25 native functions
// as globals, answering from a small in-page model of the machine that the page's
// author seeds. Load it before the page's own scripts:
//
//   <script type="application/json" id="brindlex-mock-seed">{ "files": { ... } }</script>
//   <script src="brindlex-mock.js"></script>
//
// It adds no global of its own beyond the 25 functions. Its controls (reset with a new
// seed, the call log, the model's files) hang on window[Symbol.for("brindlex.mock")].
// Build: tsc -p sdk/mock.tsconfig.json (brindlex-mock.js is kept beside this file).

interface BrindlexMockSeed {
  /** Facts the system queries answer. */
  system?: {
    bits?: 32 | 64;
    version?: "xp" | "win7" | "win8" | "win10" | "win11" | "";
    deviceNumber?: string;
    modulePath?: string;
    moduleVersion?: string;
    cid?: string;
  };
  /** Environment variables for getFullPath; names match in any case. */
  env?: { [name: string]: string };
  /** Files by Windows path, with their text (stored as UTF-8). Their folders exist. */
  files?: { [path: string]: string };
  /** Folders that exist, empty ones included. */
  folders?: string[];
  /** Files and folders that cannot be deleted (a running program, a loaded library). */
  inUse?: string[];
  /** Registry keys with their values, in both views; "" is the default value. */
  registry?: { [keyPath: string]: { [valueName: string]: string | number } };
  /** Keys only in the 64-bit view (absent on 32-bit Windows), and only in the 32-bit. */
  registry64?: { [keyPath: string]: { [valueName: string]: string | number } };
  registry32?: { [keyPath: string]: { [valueName: string]: string | number } };
  /** Download answers by URL; other URLs are fetched from the network. A 301, 302,
   *  303, 307 or 308 with a location sends the download there, as the program does. */
  downloads?: { [url: string]: BrindlexMockAnswer };
  /** exec outcomes by program path; without one, a path that exists starts. */
  exec?: { [path: string]: { result?: BrindlexOutcome; runMs?: number } };
  /** Replaces the stored setCacheData values (otherwise local storage keeps them). */
  cacheData?: { [key: string]: string };
  /** setCacheData cannot save (disk full): it answers false, the value holds in memory. */
  cacheSaveFails?: boolean;
  /** Milliseconds before a callback runs. */
  callbackDelayMs?: number;
}

interface BrindlexMockAnswer { status?: number; body?: string; sizeUnknown?: boolean; location?: string }

interface BrindlexMockCall {
  type: "call" | "callback";
  name: string;
  args?: unknown[];
  result?: unknown;
  value?: number;
}

interface BrindlexMockControl {
  calls: BrindlexMockCall[];
  reset(seed?: BrindlexMockSeed): void;
  /** The text of a file of the model, or undefined when there is none. */
  readFile(path: string): string | undefined;
  exists(path: string): boolean;
  window: { state: "normal" | "minimized" | "maximized"; x: number; y: number; closed: boolean };
  /** Resolves once every download and exec has made its last callback. */
  idle(): Promise<void>;
}

(function () {
  const emptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
  const storageKey = "brindlex-mock:config.data";
  const maxPath = 260;
  const rootNames = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"];
  const followedStatuses = [301, 302, 303, 307, 308];
  const maxRedirects = 10;
  // A transfer the network cut short is tried again after each of these pauses.
  const resumePausesMs = [1000, 2000, 4000, 8000, 16000];

  interface Entry { path: string; data: Uint8Array | null; inUse: boolean }

  let seed: BrindlexMockSeed = {};
  // Stores without a prototype: any key, "__proto__" included, is an ordinary one.
  let memory: { [key: string]: string } = Object.create(null);
  let cacheMemory: { [key: string]: string } = Object.create(null);
  let files: { [key: string]: Entry } = {};
  let pending = 0;
  let idleWaiters: Array<() => void> = [];
  const control: BrindlexMockControl = {
    calls: [],
    reset: reset,
    readFile: function (path: string) {
      const entry = files[fileKey(path)];
      return entry && entry.data ? utf8Decode(entry.data) : undefined;
    },
    exists: function (path: string) { return !!files[fileKey(path)]; },
    window: { state: "normal", x: 0, y: 0, closed: false },
    idle: function () {
      return new Promise<void>(function (resolve) {
        if (pending === 0) resolve(); else idleWaiters.push(resolve);
      });
    },
  };

  // ---- text and numbers as the engine converts them

  function text(value: unknown): string { return String(value); }
  function integer(value: unknown): number { return Number(value) | 0; }

  function utf8Encode(value: string): Uint8Array { return new TextEncoder().encode(value); }
  function utf8Decode(bytes: Uint8Array): string { return new TextDecoder().decode(bytes); }

  // ---- files: one table by lower-case path, folders as entries without data

  function fileKey(path: string): string {
    return path.replace(/\//g, "\\").replace(/\\+$/, "").toLowerCase();
  }

  function parentKey(key: string): string {
    const at = key.lastIndexOf("\\");
    return at > 0 ? key.slice(0, at) : "";
  }

  function addFolders(path: string): void {
    let key = fileKey(path);
    while (key && !files[key]) {
      files[key] = { path: key, data: null, inUse: false };
      key = parentKey(key);
    }
  }

  function putFile(path: string, data: Uint8Array | null): void {
    const key = fileKey(path);
    addFolders(parentKey(key));
    const old = files[key];
    files[key] = { path: path, data: data, inUse: old ? old.inUse : false };
  }

  // Moves an entry and everything under it; the caller has checked both ends.
  function moveEntry(fromPath: string, toPath: string): void {
    const from = fileKey(fromPath);
    const to = fileKey(toPath);
    const moved: { [key: string]: Entry } = {};
    for (const key in files) {
      if (key === from || key.indexOf(from + "\\") === 0) {
        moved[to + key.slice(from.length)] = files[key];
        delete files[key];
      }
    }
    for (const key in moved) files[key] = moved[key];
    files[to].path = toPath;
  }

  // A place a file can be created at: its folder exists and nothing stands there.
  function freePlace(path: string): boolean {
    const key = fileKey(path);
    return path.length > 0 && path.length < maxPath && !files[key] && !!files[parentKey(key)];
  }

  // On 64-bit Windows a 32-bit program's system folder is the 32-bit one, unless the
  // function switches the redirection off.
  function redirected(path: string): string {
    if (systemBits() !== 64) return path;
    const system32 = fileKey(expand("%windir%") + "\\system32");
    const key = fileKey(path);
    if (key === system32 || key.indexOf(system32 + "\\") === 0) {
      return path.slice(0, system32.length - 8) + "SysWOW64" + path.slice(system32.length);
    }
    return path;
  }

  // Moves path aside to path + ".bak", as the program does with what it cannot delete.
  function moveAside(path: string): boolean {
    if (!freePlace(path + ".bak")) return false;
    moveEntry(path, path + ".bak");
    files[fileKey(path + ".bak")].inUse = false;
    return true;
  }

  function expand(value: string): string {
    const env = seed.env || {};
    const names: { [lower: string]: string } = { windir: "C:\\Windows" };
    for (const name in env) names[name.toLowerCase()] = env[name];
    return value.replace(/%([^%]+)%/g, function (whole: string, name: string) {
      const found = names[name.toLowerCase()];
      return found === undefined ? whole : found;
    });
  }

  // ---- registry: keys by view, sub-keys matched in any case, roots exactly

  function systemBits(): 32 | 64 { return (seed.system && seed.system.bits) || 64; }

  function registryKeys(view: number): { [key: string]: { [name: string]: string | number } } {
    const keys: { [key: string]: { [name: string]: string | number } } = {};
    const sixtyFour = (view & 0xff) === 64 && systemBits() === 64;
    const sources = [seed.registry, sixtyFour ? seed.registry64 : seed.registry32];
    for (let i = 0; i < sources.length; i++) {
      const source = sources[i] || {};
      for (const path in source) keys[registryKey(path)] = source[path];
    }
    return keys;
  }

  function registryKey(path: string): string {
    for (let i = 0; i < rootNames.length; i++) {
      const at = path.indexOf(rootNames[i]);
      if (at < 0) continue;
      // One separator after the root name is skipped, whatever it is.
      const subKey = path.slice(at + rootNames[i].length + 1).replace(/\\+$/, "");
      return rootNames[i] + (subKey ? "\\" + subKey.toLowerCase() : "");
    }
    return "";
  }

  function keyExists(key: string, view: number): boolean {
    if (rootNames.indexOf(key) >= 0) return true;
    const keys = registryKeys(view);
    for (const seeded in keys) {
      if (seeded === key || seeded.indexOf(key + "\\") === 0) return true;
    }
    return false;
  }

  function valueExists(key: string, name: string, view: number): boolean {
    const values = registryKeys(view)[key];
    if (!values) return false;
    for (const seeded in values) {
      if (seeded.toLowerCase() !== name.toLowerCase()) continue;
      const data = values[seeded];
      // Data over 1024 bytes does not fit the program's probe: absent.
      return typeof data === "number" || (data.length + 1) * 2 <= 1024;
    }
    return false;
  }

  // ---- callbacks: the program runs the text name(value) in the top-level page

  function utf8Length(value: string): number { return utf8Encode(value).length; }

  function callBack(name: string, value: number, bufferBytes: number): void {
    const call = name + "(" + value + ")";
    if (utf8Length(call) >= bufferBytes) {
      console.error("brindlex mock: callback name too long for its call string: " + name);
      return;
    }
    if (control.window.closed) return;
    control.calls.push({ type: "callback", name: name, value: value });
    try {
      const top = (window.top || window) as unknown as { eval(code: string): unknown };
      top.eval(call);
    } catch (e) {
      console.warn("brindlex mock: " + call + " failed: " + e);
    }
  }

  function later(ms: number): Promise<void> {
    return new Promise<void>(function (resolve) { setTimeout(resolve, ms); });
  }

  function track(work: Promise<void>): void {
    pending += 1;
    work.then(done, function (e: unknown) {
      console.error("brindlex mock: " + e);
      done();
    });
    function done(): void {
      pending -= 1;
      if (pending === 0) {
        const waiters = idleWaiters;
        idleWaiters = [];
        for (let i = 0; i < waiters.length; i++) waiters[i]();
      }
    }
  }

  // ---- downloads

  // A reply as the program's transfer sees it: a status, the announced size (0 when
  // unknown) and the body in pieces.
  interface Reply { status: number; total: number; read: () => Promise<Uint8Array | null> }

  function seededReply(answer: BrindlexMockAnswer): Reply {
    const body = utf8Encode(answer.body || "");
    let at = 0;
    return {
      status: answer.status || 200,
      total: answer.sizeUnknown ? 0 : body.length,
      read: function () {
        const piece = at < body.length ? body.subarray(at, at + 16384) : null;
        at += 16384;
        return later(1).then(function () { return piece; });
      },
    };
  }

  function schemeOf(url: string): string {
    const at = url.indexOf("://");
    return at < 0 ? "" : url.slice(0, at).toLowerCase();
  }

  // Whether a download may go on from one address to the next, by the program's rules.
  function mayFollow(from: string, to: string): boolean {
    const scheme = schemeOf(to);
    const why = scheme !== "http" && scheme !== "https" ? "to another scheme"
      : schemeOf(from) === "https" && scheme === "http" ? "from https to http" : "";
    if (why) console.warn("brindlex mock: download refused a redirect " + why + ", from " + from + " to " + to);
    return !why;
  }

  function fetchedReply(url: string): Promise<Reply | null> {
    // The browser follows the redirects itself and shows only where they ended.
    return fetch(url, { cache: "no-store" }).then(function (response) {
      if (response.redirected && !mayFollow(url, response.url)) return null;
      const reader = response.body ? response.body.getReader() : null;
      return {
        status: response.status,
        total: Number(response.headers.get("Content-Length")) || 0,
        read: function () {
          if (!reader) return Promise.resolve(null);
          return reader.read().then(function (r) { return r.done || !r.value ? null : r.value; });
        },
      };
    });
  }

  // The reply for url: seeded answers, with their redirects followed as the program
  // follows them, then the network. null when a redirect is refused.
  function replyFor(url: string): Promise<Reply | null> {
    let current = url;
    for (let hops = 0; ; hops++) {
      const answer = seed.downloads && seed.downloads[current];
      if (!answer) return fetchedReply(current);
      if (followedStatuses.indexOf(answer.status || 200) < 0 || answer.location === undefined) {
        return Promise.resolve(seededReply(answer));
      }
      let next = "";
      try { next = new URL(answer.location, current).href; } catch (e) { /* not an address */ }
      if (hops === maxRedirects) {
        console.warn("brindlex mock: download not saved, more than " + maxRedirects + " redirects: " + url);
        return Promise.resolve(null);
      }
      if (!mayFollow(current, next)) return Promise.resolve(null);
      current = next;
    }
  }

  function runDownload(url: string, filePath: string, progress: string, finished: string): void {
    const target = redirected(filePath);
    // The program posts nothing when it cannot even start the transfer.
    if (target.length >= maxPath || !files[parentKey(fileKey(target))]) {
      console.error("brindlex mock: download target unusable, no callback: " + filePath);
      return;
    }
    const progressName = utf8Length(progress + "(100)") < 128 ? progress : "";
    let reached = 0;     // the highest percentage reported: a new attempt is heard only above it
    let began = false;   // a 2xx reply has begun, so a cut is worth another attempt
    let attempts = 0;
    // One attempt: the whole body and its announced size, or null when the reply is not
    // the file; rejects when the network cut it short.
    const attempt = function (): Promise<{ body: Uint8Array; total: number } | null> {
      return replyFor(url).then(function (reply) {
        if (!reply || reply.status < 200 || reply.status > 299) return null;
        began = true;
        const received: Uint8Array[] = [];
        let size = 0;
        const step = function (): Promise<{ body: Uint8Array; total: number }> {
          return reply.read().then(function (chunk) {
            if (chunk) {
              received.push(chunk);
              size += chunk.length;
              const percent = reply.total > 0 ? Math.floor(size / reply.total * 100) : 0;
              // A complete body's 100 waits until the file is in place.
              if (percent > reached && percent < 100 && progressName) {
                reached = percent;
                callBack(progressName, percent, 128);
              }
              return step();
            }
            if (reply.total > 0 && size !== reply.total) throw new Error(size + " of " + reply.total + " bytes");
            const body = new Uint8Array(size);
            let at = 0;
            for (let i = 0; i < received.length; i++) { body.set(received[i], at); at += received[i].length; }
            return { body: body, total: reply.total };
          });
        };
        return step();
      }).then(null, function (e: unknown) {
        // The program asks again for what the network cut short; the page sees the
        // same whether it resumes or starts over.
        if (!began || attempts === resumePausesMs.length) throw e;
        console.warn("brindlex mock: download cut short (" + e + "), trying again: " + url);
        return later(resumePausesMs[attempts++]).then(attempt);
      });
    };
    track(later(seed.callbackDelayMs || 0).then(attempt).then(function (got) {
      const entry = files[fileKey(target)];
      if (!got || (entry && (entry.inUse || !entry.data))) {
        callBack(finished, 0, 256);
        return;
      }
      if (got.body.length > 0) putFile(target, got.body); else delete files[fileKey(target)];
      if (got.total > 0 && progressName) callBack(progressName, 100, 128);
      callBack(finished, 1, 256);
    }, function () {
      callBack(finished, 0, 256);
    }));
  }

  // ---- exec

  function runProgram(path: string, wait: number, callbackName: string): void {
    const script = (seed.exec || {})[path] || findExec(path);
    const starts = path.length < maxPath &&
      (script && script.result !== undefined ? script.result === 1 : !!files[fileKey(path)]);
    const runMs = wait && starts && script && script.runMs ? script.runMs : 0;
    track(later((seed.callbackDelayMs || 0) + runMs).then(function () {
      callBack(callbackName, starts ? 1 : 0, 256);
    }));
  }

  function findExec(path: string): { result?: BrindlexOutcome; runMs?: number } | undefined {
    const scripts = seed.exec || {};
    for (const seeded in scripts) if (fileKey(seeded) === fileKey(path)) return scripts[seeded];
    return undefined;
  }

  // ---- config.data in local storage

  function loadCache(): { [key: string]: string } {
    try {
      const stored = JSON.parse(window.localStorage.getItem(storageKey) || "{}");
      const store: { [key: string]: string } = Object.create(null);
      for (const key in stored) if (typeof stored[key] === "string") store[key] = stored[key];
      return store;
    } catch (e) {
      return Object.create(null);
    }
  }

  function saveCache(): boolean {
    if (seed.cacheSaveFails) return false;
    try {
      window.localStorage.setItem(storageKey, JSON.stringify(cacheMemory));
      return true;
    } catch (e) {
      return false;
    }
  }

  // ---- the 25 functions, typed by their declarations

  type Natives = {
    minimize: typeof minimize; maximize: typeof maximize; close: typeof close;
    restore: typeof restore; moveWindow: typeof moveWindow; setData: typeof setData;
    getData: typeof getData; setCacheData: typeof setCacheData;
    getCacheData: typeof getCacheData; exec: typeof exec;
    hasRegisterPath: typeof hasRegisterPath; hasRegisterKey: typeof hasRegisterKey;
    download: typeof download; fileExists: typeof fileExists; replaceFile: typeof replaceFile;
    moveFile: typeof moveFile; removeFile: typeof removeFile; getFullPath: typeof getFullPath;
    getSysBit: typeof getSysBit; getDeviceNumber: typeof getDeviceNumber;
    getSysVersion: typeof getSysVersion; getModuleFilePath: typeof getModuleFilePath;
    getModuleFileVersion: typeof getModuleFileVersion; getCid: typeof getCid;
    getFileMd5: typeof getFileMd5;
  };

  const natives: Natives = {
    minimize: function () { control.window.state = "minimized"; return undefined; },
    maximize: function () { control.window.state = "maximized"; return undefined; },
    close: function () {
      // The program ends: callbacks on their way never run.
      control.window.closed = true;
      return undefined;
    },
    restore: function () { control.window.state = "normal"; return undefined; },
    moveWindow: function (dx: unknown, dy: unknown) {
      control.window.x += integer(dx);
      control.window.y += integer(dy);
      return undefined;
    },
    setData: function (key: unknown, value: unknown) {
      memory[text(key)] = text(value);
      return true;
    },
    getData: function (key: unknown) { return memory[text(key)]; },
    setCacheData: function (key: unknown, value: unknown) {
      cacheMemory[text(key)] = text(value);
      return saveCache();
    },
    getCacheData: function (key: unknown) { return cacheMemory[text(key)] || ""; },
    exec: function (path: unknown, parameters: unknown, show: unknown, wait: unknown, name: unknown) {
      runProgram(text(path), integer(wait), text(name));
      return undefined;
    },
    hasRegisterPath: function (keyPath: unknown, view: unknown) {
      const key = registryKey(text(keyPath));
      return key !== "" && keyExists(key, integer(view));
    },
    hasRegisterKey: function (keyPath: unknown, valueName: unknown, view: unknown) {
      const key = registryKey(text(keyPath));
      return key !== "" && valueExists(key, text(valueName), integer(view));
    },
    download: function (url: unknown, filePath: unknown, progress: unknown, finished: unknown) {
      runDownload(text(url), text(filePath), text(progress), text(finished));
      return undefined;
    },
    fileExists: function (filePath: unknown) {
      const path = text(filePath);
      return path.length < maxPath && !!files[fileKey(path)];
    },
    replaceFile: function (oldFilePath: unknown, newFilePath: unknown) {
      const from = redirected(text(oldFilePath));
      const to = redirected(text(newFilePath));
      const source = files[fileKey(from)];
      const target = files[fileKey(to)];
      if (!source || !source.data || !target || fileKey(from) === fileKey(to)) return false;
      // A target in use (or a folder) is moved aside first; a taken ".bak" stops it.
      if (target.inUse || !target.data) {
        if (!moveAside(to)) return false;
      } else {
        delete files[fileKey(to)];
      }
      moveEntry(from, to);
      return true;
    },
    moveFile: function (oldFilePath: unknown, newFilePath: unknown) {
      const from = text(oldFilePath);
      const to = text(newFilePath);
      if (!files[fileKey(from)] || !freePlace(to)) return false;
      if (fileKey(to).indexOf(fileKey(from) + "\\") === 0) return false;
      moveEntry(from, to);
      return true;
    },
    removeFile: function (filePath: unknown) {
      const path = text(filePath);
      const entry = files[fileKey(path)];
      if (!entry) return false;
      if (entry.data && !entry.inUse) {
        delete files[fileKey(path)];
        return true;
      }
      return moveAside(path);
    },
    getFullPath: function (path: unknown) {
      const expanded = expand(text(path));
      return expanded.length >= 32767 ? "" : expanded;
    },
    getSysBit: function () { return systemBits(); },
    getDeviceNumber: function () {
      return (seed.system && seed.system.deviceNumber) || "0123456789abcdef0123456789abcdef";
    },
    getSysVersion: function () {
      const version = seed.system && seed.system.version;
      return version === undefined ? "win10" : version;
    },
    getModuleFilePath: function () {
      return (seed.system && seed.system.modulePath) ||
        "C:\\Program Files (x86)\\Brindlex\\brindlex.exe";
    },
    getModuleFileVersion: function () {
      const version = seed.system && seed.system.moduleVersion;
      return version === undefined ? "1.0.0.64" : version;
    },
    getCid: function () { return (seed.system && seed.system.cid) || ""; },
    getFileMd5: function (filePath: unknown) {
      const entry = files[fileKey(redirected(text(filePath)))];
      return entry && entry.data ? md5Hex(entry.data) : emptyMd5;
    },
  };

  function reset(newSeed?: BrindlexMockSeed): void {
    seed = newSeed || {};
    memory = Object.create(null);
    files = {};
    control.calls.length = 0;
    control.window.state = "normal";
    control.window.x = control.window.y = 0;
    control.window.closed = false;
    const seeded = seed.files || {};
    for (const path in seeded) putFile(path, utf8Encode(seeded[path]));
    const folders = seed.folders || [];
    for (let i = 0; i < folders.length; i++) addFolders(folders[i]);
    const busy = seed.inUse || [];
    for (let i = 0; i < busy.length; i++) {
      const entry = files[fileKey(busy[i])];
      if (entry) entry.inUse = true;
    }
    if (seed.cacheData) {
      cacheMemory = Object.create(null);
      for (const key in seed.cacheData) cacheMemory[key] = seed.cacheData[key];
      saveCache();
    } else {
      cacheMemory = loadCache();
    }
  }

  // Each function is recorded with its arguments and result, under its own name.
  function recorded<F extends Function>(name: string, work: F): F {
    const wrapper = function (this: unknown) {
      const args = Array.prototype.slice.call(arguments);
      const result = work.apply(null, args);
      control.calls.push({ type: "call", name: name, args: args, result: result });
      return result;
    };
    return wrapper as unknown as F;
  }

  // ---- MD5 (RFC 1321) of the model's bytes

  function md5Hex(bytes: Uint8Array): string {
    const shifts = [7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21];
    const sines: number[] = [];
    for (let i = 0; i < 64; i++) sines[i] = Math.floor(Math.abs(Math.sin(i + 1)) * 4294967296) | 0;
    const padded = new Uint8Array(((bytes.length + 8) >> 6) * 64 + 64);
    padded.set(bytes);
    padded[bytes.length] = 0x80;
    const bits = bytes.length * 8;
    padded[padded.length - 8] = bits & 0xff;
    padded[padded.length - 7] = (bits >>> 8) & 0xff;
    padded[padded.length - 6] = (bits >>> 16) & 0xff;
    padded[padded.length - 5] = (bits >>> 24) & 0xff;
    padded[padded.length - 4] = Math.floor(bytes.length / 536870912) & 0xff;
    const state = [0x67452301, 0xefcdab89 | 0, 0x98badcfe | 0, 0x10325476];
    const words: number[] = [];
    for (let block = 0; block < padded.length; block += 64) {
      for (let i = 0; i < 16; i++) {
        const at = block + i * 4;
        words[i] = padded[at] | (padded[at + 1] << 8) | (padded[at + 2] << 16) | (padded[at + 3] << 24);
      }
      let a = state[0], b = state[1], c = state[2], d = state[3];
      for (let i = 0; i < 64; i++) {
        let f: number, g: number;
        if (i < 16) { f = (b & c) | (~b & d); g = i; }
        else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
        else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
        else { f = c ^ (b | ~d); g = (7 * i) % 16; }
        const sum = (a + f + sines[i] + words[g]) | 0;
        const shift = shifts[(i >> 4) * 4 + (i % 4)];
        a = d; d = c; c = b;
        b = (b + ((sum << shift) | (sum >>> (32 - shift)))) | 0;
      }
      state[0] = (state[0] + a) | 0; state[1] = (state[1] + b) | 0;
      state[2] = (state[2] + c) | 0; state[3] = (state[3] + d) | 0;
    }
    let hex = "";
    for (let i = 0; i < 16; i++) {
      const byte = (state[i >> 2] >>> ((i % 4) * 8)) & 0xff;
      hex += (byte < 16 ? "0" : "") + byte.toString(16);
    }
    return hex;
  }

  // ---- start: the seed block given before this script, then the globals

  const seedBlock = document.getElementById("brindlex-mock-seed");
  let initial: BrindlexMockSeed = {};
  if (seedBlock && seedBlock.textContent) {
    try {
      initial = JSON.parse(seedBlock.textContent);
    } catch (e) {
      console.error("brindlex mock: the seed block is not JSON: " + e);
    }
  }
  reset(initial);
  const global = window as unknown as { [name: string]: unknown };
  for (const name in natives) {
    global[name] = recorded(name, (natives as unknown as { [name: string]: Function })[name]);
  }
  global[Symbol.for("brindlex.mock") as unknown as string] = control;
})();
