// Brindlex: the 25 native functions the program binds into the service's page, as
// TypeScript declarations. They are globals of the page; there is nothing to import.
// Add this file to the page's tsconfig.json ("files") or reference it from a script:
//   /// <reference path="brindlex.d.ts" />
// README.md beside this file is the reference: one row per function, and the rules
// that hold for all of them (who may call, threads, callbacks, text encodings).
//
// Every function runs on the program's UI thread and returns at once. Long work
// (starting a program, downloading) reports back later by calling a global function
// of the page by its name. A call from a page the program does not serve (another
// origin, a frame of another origin, a window the page opened) is refused: it returns
// undefined whatever its declared result, and the log shows "native function <name>
// refused for ..." at level error.
//
// "Logs" names the program's log lines (standard output and
// %APPDATA%\Brindlex\logs\brindlex.log, one line each, with the level in the head).
// Most functions write an entry line "execute c++ function ..." and then an echo of the
// result, "{ return <value>; }", at the level given.

/** What exec and download report when they end: 1 for success, 0 for failure. */
type BrindlexOutcome = 0 | 1;

/**
 * The name of a global function of the page. The program calls it later by running
 * the script text `name(value)` in the top-level page, so it must be a global function
 * (a top-level `function` of a script, or a property of `window`) when the call comes;
 * a name that is not one makes that call fail silently.
 *
 * A literal name is checked here: it must be a global function that accepts the value.
 * A name held in a variable of type `string` cannot be checked and is accepted.
 */
type BrindlexCallbackName<Name extends string, Value, Expected extends string> =
  string extends Name
    ? Name
    : Name extends keyof typeof globalThis
      ? (typeof globalThis)[Name] extends (value: Value) => unknown
        ? Name
        : `${Name} must accept ${Expected}`
      : `${Name} is not a global function`;

// Window

/**
 * Minimizes the program's window, after the call has returned.
 * Logs: info "execute c++ function"; no echo.
 */
declare function minimize(): undefined;

/**
 * Maximizes the program's window, after the call has returned.
 * Logs: info "execute c++ function"; no echo.
 */
declare function maximize(): undefined;

/**
 * Ends the program once the call has returned: the window goes, callbacks still on
 * their way are never run, running downloads stop without a callback, and started
 * programs keep running (an exec that waits for one never reports).
 * Logs: info "execute c++ function"; no echo.
 */
declare function close(): undefined;

/**
 * Restores the window from minimized or maximized, after the call has returned.
 * Logs: info "execute c++ function"; no echo.
 */
declare function restore(): undefined;

/**
 * Moves the window by dx, dy pixels from where it is, before returning; the size stays.
 * Fractions are cut toward zero. Nothing fails visibly.
 * Logs: info "execute c++ function"; no echo.
 */
declare function moveWindow(dx: number, dy: number): undefined;

// Stores

/**
 * Stores value under key in memory: gone when the program ends, never written to disk.
 * Always true.
 * Logs: info "execute c++ function key: <key>, value: <value>"; echo true at info.
 */
declare function setData(key: string, value: string): boolean;

/**
 * The value setData stored under key (exact match); undefined when none was stored.
 * Logs: info "execute c++ function key: <key>"; echo of the value at info, or of
 * undefined at warning.
 */
declare function getData(key: string): string | undefined;

/**
 * Stores value under key and saves the whole store to config.data in the program's
 * cache folder (the application data folder's "Brindlex"), so it outlives the program.
 * Key and value pass through the system's ANSI code page: characters it lacks are
 * stored as its default character.
 * True when config.data was saved. False when the save failed (disk full, file held,
 * folder gone, read-only); the value is kept in memory all the same (getCacheData
 * returns it, and the next successful save writes it).
 * Logs: info "execute c++ function key: <key>, value: <value>"; echo true at info; on
 * failure an error line with the path and the system's error, and echo false at error.
 */
declare function setCacheData(key: string, value: string): boolean;

/**
 * The text setCacheData stored under key; "" when there is none (a stored "" reads the
 * same), and for a member of config.data that is not text.
 * Logs: info "execute c++ function key: <key>"; echo of the value at info.
 */
declare function getCacheData(key: string): string;

// Programs

/**
 * Starts a program, or opens a document in its program, through the shell's "open"
 * with the program's administrator rights, on a worker thread.
 * @param path the program or document (any Unicode path, under 260 characters)
 * @param parameters its command line, "" for none
 * @param showCommand how its window shows: 0 hidden, 1 normal, 2 minimized,
 *   3 maximized, 5 shown as it is
 * @param wait nonzero: report only when the started program has ended (its exit code
 *   is not read); 0: report as soon as it has started
 * @param callbackName global function called as name(1) when the program was started
 *   (and, with wait, has ended), or name(0) when it could not be started. A call
 *   string "name(1)" longer than 255 bytes is never run.
 * Returns undefined at once.
 * Logs: nothing in the call; then info "execute c++ function path: <path>, arg:
 * <parameters>", and "wke run js function: name(1)" when the callback runs.
 */
declare function exec<Name extends string>(
  path: string,
  parameters: string,
  showCommand: number,
  wait: number,
  callbackName: BrindlexCallbackName<Name, BrindlexOutcome, "0 or 1">,
): undefined;

// Registry

/**
 * Whether a registry key exists and can be opened for reading.
 * @param keyPath text holding "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" or
 *   "HKEY_LOCAL_MACHINE" (exactly so: no abbreviations, no other roots), one separator
 *   and the sub-key, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"
 * @param view 64 for the 64-bit registry view; any other number for the 32-bit view
 * False when the key is absent or unreadable in that view, or keyPath names no root.
 * Logs: info "execute c++ function register path: <path>, bit: <view> "; echo true at
 * info, false at warning, or false at error when keyPath names no root.
 */
declare function hasRegisterPath(keyPath: string, view: number): boolean;

/**
 * Whether a value of any type exists under a registry key (despite the name, it tests
 * a value, not a key). valueName "" asks for the key's default value. A value of more
 * than 1024 bytes counts as absent.
 * keyPath and view as for hasRegisterPath.
 * Logs: info "execute c++ function register path: <path>, key: <name>, bit: <view> ";
 * echo true at info, false at warning, or false at error when keyPath names no root.
 */
declare function hasRegisterKey(keyPath: string, valueName: string, view: number): boolean;

// Downloads

/**
 * Downloads url (http or https; https servers must present a certificate Windows
 * trusts) into filePath, on a worker thread, through the system's proxy. It follows up
 * to 10 redirects (301, 302, 303, 307, 308), never from https to http or to another
 * scheme, and asks again, up to 5 times, for a transfer the network cut short.
 * The body goes to a private file beside filePath, which replaces filePath only when
 * the transfer is complete.
 * @param filePath the target; it passes through the ANSI code page, so characters the
 *   code page lacks cannot be used
 * @param progressCallbackName global function called as name(percent) each time the
 *   whole percentage rises, 1 to 100 (never 0, never lower than one already reported,
 *   none when the size is unknown, no 100 for a transfer that fails). A name longer
 *   than 122 bytes gets no progress calls.
 * @param finishedCallbackName global function called once, after the progress calls:
 *   name(1) when the last reply was complete with a 2xx status and filePath now holds it (an
 *   empty reply removes filePath); name(0) for a transfer error the further attempts
 *   did not get past, a non-2xx last status (a refused redirect, more than 10, or a 3xx
 *   not followed), a proxy that refuses, a stalled transfer or a failed write, and then
 *   an existing filePath is unchanged.
 *   No call at all when filePath's folder does not exist, when filePath is 260
 *   characters or longer in the ANSI code page, or when the program ends first. A call string longer than 255
 *   bytes is never run.
 * Returns undefined at once.
 * Logs: info "execute c++ function url: <url>, callback name: <progress>, finished
 * callbak name: <finished>"; echo undefined at info; when the transfer ends
 * "curl_easy_perform url: <url>, res: <libcurl code>, ..." at info (0) or warning;
 * for a non-2xx reply, warning "download not saved, the server answered status <code>:
 * <url>".
 */
declare function download<Progress extends string, Finished extends string>(
  url: string,
  filePath: string,
  progressCallbackName: BrindlexCallbackName<Progress, number, "a percentage">,
  finishedCallbackName: BrindlexCallbackName<Finished, BrindlexOutcome, "0 or 1">,
): undefined;

// Files

/**
 * Whether a file or folder exists at filePath. On 64-bit Windows it sees the real
 * system folder. filePath passes through the ANSI code page.
 * Logs: info "execute c++ function file path: <path>"; echo true at info, false at
 * warning.
 */
declare function fileExists(filePath: string): boolean;

/**
 * Puts the file at oldFilePath in the place of the existing file newFilePath. A target
 * in use is moved aside to newFilePath + ".bak", the file moved in, and the ".bak"
 * deleted at the next restart of Windows.
 * True only when the file from oldFilePath now stands at newFilePath. False, with
 * newFilePath untouched, when oldFilePath is missing or unreadable, when newFilePath
 * does not exist (it replaces, it does not create), or when the target can be neither
 * removed nor moved aside (say its ".bak" path is taken).
 * On 64-bit Windows a path in the system folder reaches the 32-bit system folder.
 * Logs: info "execute c++ function old file path: <old>, new file path: <new>"; echo
 * true at info, false at warning.
 */
declare function replaceFile(oldFilePath: string, newFilePath: string): boolean;

/**
 * Moves or renames a file or folder; fails when newFilePath exists. On 64-bit Windows
 * it acts on the real system folder.
 * Logs: info "execute c++ function old file path: <old>, new file path: <new>"; echo
 * true at info, false at error.
 */
declare function moveFile(oldFilePath: string, newFilePath: string): boolean;

/**
 * Deletes a file. One that cannot be deleted (in use, or a folder) is moved aside to
 * filePath + ".bak", which Windows deletes at its next restart; that counts as true.
 * False when neither works (missing, or the ".bak" path taken). On 64-bit Windows it
 * acts on the real system folder.
 * Logs: info "execute c++ function file path: <path>"; echo true at info, false at
 * warning.
 */
declare function removeFile(filePath: string): boolean;

/**
 * path with each %NAME% replaced by the program's environment variable NAME; unknown
 * names stay as written. It does not make a relative path absolute. "" when the
 * expansion fails or would be longer than the system allows.
 * Logs: info "execute c++ function env path: <path>"; echo of the result at info.
 */
declare function getFullPath(path: string): string;

/**
 * MD5 of the file's bytes, 32 lower-case hexadecimal digits. A missing or unreadable
 * file gives the digest of no bytes, "d41d8cd98f00b204e9800998ecf8427e", as an empty
 * file does. filePath passes through the ANSI code page; on 64-bit Windows a path in
 * the system folder reaches the 32-bit system folder. Blocks the page while it reads.
 * Logs: info "execute c++ function file path: <path>"; echo of the digest at info.
 */
declare function getFileMd5(filePath: string): string;

// System

/**
 * The bitness of Windows: 64 on x64 and ARM64, 32 on 32-bit Windows.
 * Logs: info "execute c++ function"; echo of the number at info.
 */
declare function getSysBit(): 32 | 64;

/**
 * An identifier of the machine, 32 lower-case hexadecimal digits, the same on every
 * call while the network adapter and the system's identifiers stay. Slow: it blocks
 * the page while it queries the adapters.
 * Logs: info "execute c++ function"; echo of the text at info.
 */
declare function getDeviceNumber(): string;

/**
 * The generation of Windows: "xp" (XP and older), "win7" (Vista, 7, 8.1), "win8",
 * "win10", "win11"; "" when it cannot be read.
 * Logs: info "execute c++ function"; echo of the text at info.
 */
declare function getSysVersion(): "xp" | "win7" | "win8" | "win10" | "win11" | "";

/**
 * The full path of the running program file.
 * Logs: info "execute c++ function"; echo of the path at info.
 */
declare function getModuleFilePath(): string;

/**
 * The running program file's version, as "1.0.0.64"; "" when it has none.
 * Logs: info "execute c++ function", a line with the program path and version, and
 * the echo at info.
 */
declare function getModuleFileVersion(): string;

/**
 * The value "cid" that the installer wrote into the program's uninstall entry; "" when
 * the entry or the value is missing.
 * Logs: info "execute c++ function"; echo of the text at info.
 */
declare function getCid(): string;
