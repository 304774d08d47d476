"use strict";
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
(function () {
    var emptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
    var storageKey = "brindlex-mock:config.data";
    var maxPath = 260;
    var rootNames = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"];
    var followedStatuses = [301, 302, 303, 307, 308];
    var maxRedirects = 10;
    // A transfer the network cut short is tried again after each of these pauses.
    var resumePausesMs = [1000, 2000, 4000, 8000, 16000];
    var seed = {};
    // Stores without a prototype: any key, "__proto__" included, is an ordinary one.
    var memory = Object.create(null);
    var cacheMemory = Object.create(null);
    var files = {};
    var pending = 0;
    var idleWaiters = [];
    var control = {
        calls: [],
        reset: reset,
        readFile: function (path) {
            var entry = files[fileKey(path)];
            return entry && entry.data ? utf8Decode(entry.data) : undefined;
        },
        exists: function (path) { return !!files[fileKey(path)]; },
        window: { state: "normal", x: 0, y: 0, closed: false },
        idle: function () {
            return new Promise(function (resolve) {
                if (pending === 0)
                    resolve();
                else
                    idleWaiters.push(resolve);
            });
        },
    };
    // ---- text and numbers as the engine converts them
    function text(value) { return String(value); }
    function integer(value) { return Number(value) | 0; }
    function utf8Encode(value) { return new TextEncoder().encode(value); }
    function utf8Decode(bytes) { return new TextDecoder().decode(bytes); }
    // ---- files: one table by lower-case path, folders as entries without data
    function fileKey(path) {
        return path.replace(/\//g, "\\").replace(/\\+$/, "").toLowerCase();
    }
    function parentKey(key) {
        var at = key.lastIndexOf("\\");
        return at > 0 ? key.slice(0, at) : "";
    }
    function addFolders(path) {
        var key = fileKey(path);
        while (key && !files[key]) {
            files[key] = { path: key, data: null, inUse: false };
            key = parentKey(key);
        }
    }
    function putFile(path, data) {
        var key = fileKey(path);
        addFolders(parentKey(key));
        var old = files[key];
        files[key] = { path: path, data: data, inUse: old ? old.inUse : false };
    }
    // Moves an entry and everything under it; the caller has checked both ends.
    function moveEntry(fromPath, toPath) {
        var from = fileKey(fromPath);
        var to = fileKey(toPath);
        var moved = {};
        for (var key in files) {
            if (key === from || key.indexOf(from + "\\") === 0) {
                moved[to + key.slice(from.length)] = files[key];
                delete files[key];
            }
        }
        for (var key in moved)
            files[key] = moved[key];
        files[to].path = toPath;
    }
    // A place a file can be created at: its folder exists and nothing stands there.
    function freePlace(path) {
        var key = fileKey(path);
        return path.length > 0 && path.length < maxPath && !files[key] && !!files[parentKey(key)];
    }
    // On 64-bit Windows a 32-bit program's system folder is the 32-bit one, unless the
    // function switches the redirection off.
    function redirected(path) {
        if (systemBits() !== 64)
            return path;
        var system32 = fileKey(expand("%windir%") + "\\system32");
        var key = fileKey(path);
        if (key === system32 || key.indexOf(system32 + "\\") === 0) {
            return path.slice(0, system32.length - 8) + "SysWOW64" + path.slice(system32.length);
        }
        return path;
    }
    // Moves path aside to path + ".bak", as the program does with what it cannot delete.
    function moveAside(path) {
        if (!freePlace(path + ".bak"))
            return false;
        moveEntry(path, path + ".bak");
        files[fileKey(path + ".bak")].inUse = false;
        return true;
    }
    function expand(value) {
        var env = seed.env || {};
        var names = { windir: "C:\\Windows" };
        for (var name_1 in env)
            names[name_1.toLowerCase()] = env[name_1];
        return value.replace(/%([^%]+)%/g, function (whole, name) {
            var found = names[name.toLowerCase()];
            return found === undefined ? whole : found;
        });
    }
    // ---- registry: keys by view, sub-keys matched in any case, roots exactly
    function systemBits() { return (seed.system && seed.system.bits) || 64; }
    function registryKeys(view) {
        var keys = {};
        var sixtyFour = (view & 0xff) === 64 && systemBits() === 64;
        var sources = [seed.registry, sixtyFour ? seed.registry64 : seed.registry32];
        for (var i = 0; i < sources.length; i++) {
            var source = sources[i] || {};
            for (var path in source)
                keys[registryKey(path)] = source[path];
        }
        return keys;
    }
    function registryKey(path) {
        for (var i = 0; i < rootNames.length; i++) {
            var at = path.indexOf(rootNames[i]);
            if (at < 0)
                continue;
            // One separator after the root name is skipped, whatever it is.
            var subKey = path.slice(at + rootNames[i].length + 1).replace(/\\+$/, "");
            return rootNames[i] + (subKey ? "\\" + subKey.toLowerCase() : "");
        }
        return "";
    }
    function keyExists(key, view) {
        if (rootNames.indexOf(key) >= 0)
            return true;
        var keys = registryKeys(view);
        for (var seeded in keys) {
            if (seeded === key || seeded.indexOf(key + "\\") === 0)
                return true;
        }
        return false;
    }
    function valueExists(key, name, view) {
        var values = registryKeys(view)[key];
        if (!values)
            return false;
        for (var seeded in values) {
            if (seeded.toLowerCase() !== name.toLowerCase())
                continue;
            var data = values[seeded];
            // Data over 1024 bytes does not fit the program's probe: absent.
            return typeof data === "number" || (data.length + 1) * 2 <= 1024;
        }
        return false;
    }
    // ---- callbacks: the program runs the text name(value) in the top-level page
    function utf8Length(value) { return utf8Encode(value).length; }
    function callBack(name, value, bufferBytes) {
        var call = name + "(" + value + ")";
        if (utf8Length(call) >= bufferBytes) {
            console.error("brindlex mock: callback name too long for its call string: " + name);
            return;
        }
        if (control.window.closed)
            return;
        control.calls.push({ type: "callback", name: name, value: value });
        try {
            var top_1 = (window.top || window);
            top_1.eval(call);
        }
        catch (e) {
            console.warn("brindlex mock: " + call + " failed: " + e);
        }
    }
    function later(ms) {
        return new Promise(function (resolve) { setTimeout(resolve, ms); });
    }
    function track(work) {
        pending += 1;
        work.then(done, function (e) {
            console.error("brindlex mock: " + e);
            done();
        });
        function done() {
            pending -= 1;
            if (pending === 0) {
                var waiters = idleWaiters;
                idleWaiters = [];
                for (var i = 0; i < waiters.length; i++)
                    waiters[i]();
            }
        }
    }
    function seededReply(answer) {
        var body = utf8Encode(answer.body || "");
        var at = 0;
        return {
            status: answer.status || 200,
            total: answer.sizeUnknown ? 0 : body.length,
            read: function () {
                var piece = at < body.length ? body.subarray(at, at + 16384) : null;
                at += 16384;
                return later(1).then(function () { return piece; });
            },
        };
    }
    function schemeOf(url) {
        var at = url.indexOf("://");
        return at < 0 ? "" : url.slice(0, at).toLowerCase();
    }
    // Whether a download may go on from one address to the next, by the program's rules.
    function mayFollow(from, to) {
        var scheme = schemeOf(to);
        var why = scheme !== "http" && scheme !== "https" ? "to another scheme"
            : schemeOf(from) === "https" && scheme === "http" ? "from https to http" : "";
        if (why)
            console.warn("brindlex mock: download refused a redirect " + why + ", from " + from + " to " + to);
        return !why;
    }
    function fetchedReply(url) {
        // The browser follows the redirects itself and shows only where they ended.
        return fetch(url, { cache: "no-store" }).then(function (response) {
            if (response.redirected && !mayFollow(url, response.url))
                return null;
            var reader = response.body ? response.body.getReader() : null;
            return {
                status: response.status,
                total: Number(response.headers.get("Content-Length")) || 0,
                read: function () {
                    if (!reader)
                        return Promise.resolve(null);
                    return reader.read().then(function (r) { return r.done || !r.value ? null : r.value; });
                },
            };
        });
    }
    // The reply for url: seeded answers, with their redirects followed as the program
    // follows them, then the network. null when a redirect is refused.
    function replyFor(url) {
        var current = url;
        for (var hops = 0;; hops++) {
            var answer = seed.downloads && seed.downloads[current];
            if (!answer)
                return fetchedReply(current);
            if (followedStatuses.indexOf(answer.status || 200) < 0 || answer.location === undefined) {
                return Promise.resolve(seededReply(answer));
            }
            var next = "";
            try {
                next = new URL(answer.location, current).href;
            }
            catch (e) { /* not an address */ }
            if (hops === maxRedirects) {
                console.warn("brindlex mock: download not saved, more than " + maxRedirects + " redirects: " + url);
                return Promise.resolve(null);
            }
            if (!mayFollow(current, next))
                return Promise.resolve(null);
            current = next;
        }
    }
    function runDownload(url, filePath, progress, finished) {
        var target = redirected(filePath);
        // The program posts nothing when it cannot even start the transfer.
        if (target.length >= maxPath || !files[parentKey(fileKey(target))]) {
            console.error("brindlex mock: download target unusable, no callback: " + filePath);
            return;
        }
        var progressName = utf8Length(progress + "(100)") < 128 ? progress : "";
        var reached = 0; // the highest percentage reported: a new attempt is heard only above it
        var began = false; // a 2xx reply has begun, so a cut is worth another attempt
        var attempts = 0;
        // One attempt: the whole body and its announced size, or null when the reply is not
        // the file; rejects when the network cut it short.
        var attempt = function () {
            return replyFor(url).then(function (reply) {
                if (!reply || reply.status < 200 || reply.status > 299)
                    return null;
                began = true;
                var received = [];
                var size = 0;
                var step = function () {
                    return reply.read().then(function (chunk) {
                        if (chunk) {
                            received.push(chunk);
                            size += chunk.length;
                            var percent = reply.total > 0 ? Math.floor(size / reply.total * 100) : 0;
                            // A complete body's 100 waits until the file is in place.
                            if (percent > reached && percent < 100 && progressName) {
                                reached = percent;
                                callBack(progressName, percent, 128);
                            }
                            return step();
                        }
                        if (reply.total > 0 && size !== reply.total)
                            throw new Error(size + " of " + reply.total + " bytes");
                        var body = new Uint8Array(size);
                        var at = 0;
                        for (var i = 0; i < received.length; i++) {
                            body.set(received[i], at);
                            at += received[i].length;
                        }
                        return { body: body, total: reply.total };
                    });
                };
                return step();
            }).then(null, function (e) {
                // The program asks again for what the network cut short; the page sees the
                // same whether it resumes or starts over.
                if (!began || attempts === resumePausesMs.length)
                    throw e;
                console.warn("brindlex mock: download cut short (" + e + "), trying again: " + url);
                return later(resumePausesMs[attempts++]).then(attempt);
            });
        };
        track(later(seed.callbackDelayMs || 0).then(attempt).then(function (got) {
            var entry = files[fileKey(target)];
            if (!got || (entry && (entry.inUse || !entry.data))) {
                callBack(finished, 0, 256);
                return;
            }
            if (got.body.length > 0)
                putFile(target, got.body);
            else
                delete files[fileKey(target)];
            if (got.total > 0 && progressName)
                callBack(progressName, 100, 128);
            callBack(finished, 1, 256);
        }, function () {
            callBack(finished, 0, 256);
        }));
    }
    // ---- exec
    function runProgram(path, wait, callbackName) {
        var script = (seed.exec || {})[path] || findExec(path);
        var starts = path.length < maxPath &&
            (script && script.result !== undefined ? script.result === 1 : !!files[fileKey(path)]);
        var runMs = wait && starts && script && script.runMs ? script.runMs : 0;
        track(later((seed.callbackDelayMs || 0) + runMs).then(function () {
            callBack(callbackName, starts ? 1 : 0, 256);
        }));
    }
    function findExec(path) {
        var scripts = seed.exec || {};
        for (var seeded in scripts)
            if (fileKey(seeded) === fileKey(path))
                return scripts[seeded];
        return undefined;
    }
    // ---- config.data in local storage
    function loadCache() {
        try {
            var stored = JSON.parse(window.localStorage.getItem(storageKey) || "{}");
            var store = Object.create(null);
            for (var key in stored)
                if (typeof stored[key] === "string")
                    store[key] = stored[key];
            return store;
        }
        catch (e) {
            return Object.create(null);
        }
    }
    function saveCache() {
        if (seed.cacheSaveFails)
            return false;
        try {
            window.localStorage.setItem(storageKey, JSON.stringify(cacheMemory));
            return true;
        }
        catch (e) {
            return false;
        }
    }
    var natives = {
        minimize: function () { control.window.state = "minimized"; return undefined; },
        maximize: function () { control.window.state = "maximized"; return undefined; },
        close: function () {
            // The program ends: callbacks on their way never run.
            control.window.closed = true;
            return undefined;
        },
        restore: function () { control.window.state = "normal"; return undefined; },
        moveWindow: function (dx, dy) {
            control.window.x += integer(dx);
            control.window.y += integer(dy);
            return undefined;
        },
        setData: function (key, value) {
            memory[text(key)] = text(value);
            return true;
        },
        getData: function (key) { return memory[text(key)]; },
        setCacheData: function (key, value) {
            cacheMemory[text(key)] = text(value);
            return saveCache();
        },
        getCacheData: function (key) { return cacheMemory[text(key)] || ""; },
        exec: function (path, parameters, show, wait, name) {
            runProgram(text(path), integer(wait), text(name));
            return undefined;
        },
        hasRegisterPath: function (keyPath, view) {
            var key = registryKey(text(keyPath));
            return key !== "" && keyExists(key, integer(view));
        },
        hasRegisterKey: function (keyPath, valueName, view) {
            var key = registryKey(text(keyPath));
            return key !== "" && valueExists(key, text(valueName), integer(view));
        },
        download: function (url, filePath, progress, finished) {
            runDownload(text(url), text(filePath), text(progress), text(finished));
            return undefined;
        },
        fileExists: function (filePath) {
            var path = text(filePath);
            return path.length < maxPath && !!files[fileKey(path)];
        },
        replaceFile: function (oldFilePath, newFilePath) {
            var from = redirected(text(oldFilePath));
            var to = redirected(text(newFilePath));
            var source = files[fileKey(from)];
            var target = files[fileKey(to)];
            if (!source || !source.data || !target || fileKey(from) === fileKey(to))
                return false;
            // A target in use (or a folder) is moved aside first; a taken ".bak" stops it.
            if (target.inUse || !target.data) {
                if (!moveAside(to))
                    return false;
            }
            else {
                delete files[fileKey(to)];
            }
            moveEntry(from, to);
            return true;
        },
        moveFile: function (oldFilePath, newFilePath) {
            var from = text(oldFilePath);
            var to = text(newFilePath);
            if (!files[fileKey(from)] || !freePlace(to))
                return false;
            if (fileKey(to).indexOf(fileKey(from) + "\\") === 0)
                return false;
            moveEntry(from, to);
            return true;
        },
        removeFile: function (filePath) {
            var path = text(filePath);
            var entry = files[fileKey(path)];
            if (!entry)
                return false;
            if (entry.data && !entry.inUse) {
                delete files[fileKey(path)];
                return true;
            }
            return moveAside(path);
        },
        getFullPath: function (path) {
            var expanded = expand(text(path));
            return expanded.length >= 32767 ? "" : expanded;
        },
        getSysBit: function () { return systemBits(); },
        getDeviceNumber: function () {
            return (seed.system && seed.system.deviceNumber) || "0123456789abcdef0123456789abcdef";
        },
        getSysVersion: function () {
            var version = seed.system && seed.system.version;
            return version === undefined ? "win10" : version;
        },
        getModuleFilePath: function () {
            return (seed.system && seed.system.modulePath) ||
                "C:\\Program Files (x86)\\Brindlex\\brindlex.exe";
        },
        getModuleFileVersion: function () {
            var version = seed.system && seed.system.moduleVersion;
            return version === undefined ? "1.0.0.64" : version;
        },
        getCid: function () { return (seed.system && seed.system.cid) || ""; },
        getFileMd5: function (filePath) {
            var entry = files[fileKey(redirected(text(filePath)))];
            return entry && entry.data ? md5Hex(entry.data) : emptyMd5;
        },
    };
    function reset(newSeed) {
        seed = newSeed || {};
        memory = Object.create(null);
        files = {};
        control.calls.length = 0;
        control.window.state = "normal";
        control.window.x = control.window.y = 0;
        control.window.closed = false;
        var seeded = seed.files || {};
        for (var path in seeded)
            putFile(path, utf8Encode(seeded[path]));
        var folders = seed.folders || [];
        for (var i = 0; i < folders.length; i++)
            addFolders(folders[i]);
        var busy = seed.inUse || [];
        for (var i = 0; i < busy.length; i++) {
            var entry = files[fileKey(busy[i])];
            if (entry)
                entry.inUse = true;
        }
        if (seed.cacheData) {
            cacheMemory = Object.create(null);
            for (var key in seed.cacheData)
                cacheMemory[key] = seed.cacheData[key];
            saveCache();
        }
        else {
            cacheMemory = loadCache();
        }
    }
    // Each function is recorded with its arguments and result, under its own name.
    function recorded(name, work) {
        var wrapper = function () {
            var args = Array.prototype.slice.call(arguments);
            var result = work.apply(null, args);
            control.calls.push({ type: "call", name: name, args: args, result: result });
            return result;
        };
        return wrapper;
    }
    // ---- MD5 (RFC 1321) of the model's bytes
    function md5Hex(bytes) {
        var shifts = [7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21];
        var sines = [];
        for (var i = 0; i < 64; i++)
            sines[i] = Math.floor(Math.abs(Math.sin(i + 1)) * 4294967296) | 0;
        var padded = new Uint8Array(((bytes.length + 8) >> 6) * 64 + 64);
        padded.set(bytes);
        padded[bytes.length] = 0x80;
        var bits = bytes.length * 8;
        padded[padded.length - 8] = bits & 0xff;
        padded[padded.length - 7] = (bits >>> 8) & 0xff;
        padded[padded.length - 6] = (bits >>> 16) & 0xff;
        padded[padded.length - 5] = (bits >>> 24) & 0xff;
        padded[padded.length - 4] = Math.floor(bytes.length / 536870912) & 0xff;
        var state = [0x67452301, 0xefcdab89 | 0, 0x98badcfe | 0, 0x10325476];
        var words = [];
        for (var block = 0; block < padded.length; block += 64) {
            for (var i = 0; i < 16; i++) {
                var at = block + i * 4;
                words[i] = padded[at] | (padded[at + 1] << 8) | (padded[at + 2] << 16) | (padded[at + 3] << 24);
            }
            var a = state[0], b = state[1], c = state[2], d = state[3];
            for (var i = 0; i < 64; i++) {
                var f = void 0, g = void 0;
                if (i < 16) {
                    f = (b & c) | (~b & d);
                    g = i;
                }
                else if (i < 32) {
                    f = (d & b) | (~d & c);
                    g = (5 * i + 1) % 16;
                }
                else if (i < 48) {
                    f = b ^ c ^ d;
                    g = (3 * i + 5) % 16;
                }
                else {
                    f = c ^ (b | ~d);
                    g = (7 * i) % 16;
                }
                var sum = (a + f + sines[i] + words[g]) | 0;
                var shift = shifts[(i >> 4) * 4 + (i % 4)];
                a = d;
                d = c;
                c = b;
                b = (b + ((sum << shift) | (sum >>> (32 - shift)))) | 0;
            }
            state[0] = (state[0] + a) | 0;
            state[1] = (state[1] + b) | 0;
            state[2] = (state[2] + c) | 0;
            state[3] = (state[3] + d) | 0;
        }
        var hex = "";
        for (var i = 0; i < 16; i++) {
            var byte = (state[i >> 2] >>> ((i % 4) * 8)) & 0xff;
            hex += (byte < 16 ? "0" : "") + byte.toString(16);
        }
        return hex;
    }
    // ---- start: the seed block given before this script, then the globals
    var seedBlock = document.getElementById("brindlex-mock-seed");
    var initial = {};
    if (seedBlock && seedBlock.textContent) {
        try {
            initial = JSON.parse(seedBlock.textContent);
        }
        catch (e) {
            console.error("brindlex mock: the seed block is not JSON: " + e);
        }
    }
    reset(initial);
    var global = window;
    for (var name_2 in natives) {
        global[name_2] = recorded(name_2, natives[name_2]);
    }
    global[Symbol.for("brindlex.mock")] = control;
})();
