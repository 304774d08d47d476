#!/usr/bin/env python3
"""Where a download's time goes: reads the perf recordings that
scripts/profile-download.sh makes for each contender and prints, per GiB fetched,
the CPU time of the client split by what it was doing, the CPU time of the prefix's
wineserver and of the sending server, and the client's system calls: receives, file
writes, wineserver requests (each a round trip) and polls. Only the time from the
client's first receive to its last counts: starting and ending a program under Wine
costs the same whatever it downloads.

A contender is given as name,comm,arch,cpu_data,syscall_data,mbs where comm is the
start of the client's process name, arch is 64 (a Linux program) or 32 (a 32-bit
Windows program under Wine), cpu_data a `perf record -a -g` file and syscall_data a
`perf record -e raw_syscalls:sys_enter -e raw_syscalls:sys_exit` file of the same
contender's run.
"""
import argparse
import collections
import re
import subprocess

# Where a sample's kernel call chain says the time went. The first match wins.
KERNEL_BUCKETS = [
    ("file write", ("shmem_file_write_iter", "ext4_file_write_iter", "generic_perform_write",
                    "xfs_file_write_iter", "btrfs_do_write_iter")),
    ("socket receive", ("tcp_recvmsg", "sock_recvmsg", "__sys_recvfrom", "__sys_recvmsg")),
    ("wineserver calls", ("pipe_read", "pipe_write", "anon_pipe", "unix_stream_recvmsg",
                          "unix_stream_sendmsg", "do_writev", "vfs_writev")),
    ("polls and waits", ("do_sys_poll", "do_select", "core_sys_select", "do_epoll_wait",
                         "futex_wait", "do_futex")),
]
USER_BUCKETS = [
    ("copies in user space", ("memcpy", "memmove", "__memcpy", "__memmove")),
]
WINE_LIBRARIES = ("ntdll.so", "ntdll.dll", "[vdso", "win32u", "kernelbase.dll", "kernel32.dll",
                  "ws2_32.dll", "ws2_32.so")
ORDER = ["file write", "socket receive", "wineserver calls", "polls and waits", "other kernel",
         "copies in user space", "Wine's own code", "the program or curl", "other user space"]

# System call numbers: (receives, writes, vectored writes, polls, socketcall).
CALLS = {
    "64": {"recv": {45, 47}, "write": {1}, "writev": {20}, "poll": {7, 23, 232, 270, 271},
           "socketcall": set()},
    "32": {"recv": {371, 372}, "write": {4}, "writev": {146}, "poll": {142, 168, 308, 309},
           "socketcall": {102}},
}
SOCKETCALL_RECEIVES = {10, 12, 17}  # recv, recvfrom, recvmsg
WINE_REQUEST_BYTES = 64  # a wineserver request's fixed part


def perf_script(data, fields):
    result = subprocess.run(["perf", "script", "-i", data, "-F", fields],
                            capture_output=True, text=True, check=False)
    return result.stdout


def samples(data):
    """Yields (pid, comm, time in s, period in ns, frames) for every sample of a -g
    recording."""
    header = re.compile(r"^\s*(.+?)\s+(\d+)/(\d+)\s+([\d.]+):\s+(\d+)\s*$")
    current = None
    for line in perf_script(data, "comm,pid,tid,time,period,ip,sym,dso").splitlines():
        match = header.match(line)
        if match and not line.startswith("\t"):
            if current:
                yield current
            current = (int(match.group(2)), match.group(1), float(match.group(4)),
                       int(match.group(5)), [])
        elif line.strip() and current:
            current[4].append(line.strip())
    if current:
        yield current


def bucket(frames):
    if not frames:
        return "other user space"
    leaf = frames[0]
    if "[kernel.kallsyms]" in leaf:
        chain = " ".join(frames)
        for name, marks in KERNEL_BUCKETS:
            if any(mark in chain for mark in marks):
                return name
        return "other kernel"
    symbol = leaf.split()[1] if len(leaf.split()) > 1 else ""
    for name, marks in USER_BUCKETS:
        if any(symbol.startswith(mark) for mark in marks):
            return name
    if "msvcrt.dll" in leaf or "ucrtbase.dll" in leaf:
        # Wine's C runtime shows no symbols; what the download path spends there is
        # the copy of each block into the file's buffer (curl.exe: its stdio buffer).
        return "copies in user space"
    if any(library in leaf for library in WINE_LIBRARIES):
        return "Wine's own code"
    if re.search(r"\((?:[^)]*/)?(?:curl|libcurl[^)]*|[^)]*\.exe|\[unknown\]|perf-\d+\.map)\)$", leaf):
        return "the program or curl"
    return "other user space"


def cpu_profile(data, comm, wineserver, sender):
    """CPU time by bucket of the client, and of the wineserver and the sending server,
    while the body was being received (the client's first to last sample in a socket
    receive), so that starting and ending a program are left out."""
    recorded = list(samples(data))
    receiving = [t for pid, name, t, period, frames in recorded
                 if name.startswith(comm[:15]) and bucket(frames) == "socket receive"]
    start, end = (min(receiving), max(receiving)) if receiving else (0, float("inf"))
    client = collections.Counter()
    other = collections.Counter()
    for pid, name, t, period, frames in recorded:
        if not start <= t <= end:
            continue
        if name.startswith(comm[:15]):
            client[bucket(frames)] += period
        elif pid == wineserver:
            other["wineserver"] += period
        elif pid == sender:
            other["sender"] += period
    return client, other


def syscall_counts(data, comm, arch):
    """The client's system calls while the body arrived: from its first receive that
    brought more than a wineserver message to its last one, by kind."""
    numbers = CALLS[arch]
    entered = re.compile(r"^\s*(.+?)\s+(\d+)\s+([\d.]+):\s+raw_syscalls:sys_enter:\s+"
                         r"NR (\d+) \(([^)]*)\)")
    exited = re.compile(r"^\s*(.+?)\s+(\d+)\s+([\d.]+):\s+raw_syscalls:sys_exit:\s+"
                        r"NR (\d+) = (-?\d+)")
    events = []
    bulk = []  # times of receives that returned body data
    pending = {}
    for line in perf_script(data, "comm,tid,time,event,trace").splitlines():
        match = entered.match(line)
        if match and match.group(1).startswith(comm[:15]):
            number = int(match.group(4))
            args = [int(a, 16) for a in match.group(5).split(",")]
            if number in numbers["recv"] or (number in numbers["socketcall"]
                                             and args[0] in SOCKETCALL_RECEIVES):
                kind = "receives"
            elif (number in numbers["write"] and arch == "32"
                  and args[2] == WINE_REQUEST_BYTES):
                kind = "wineserver requests"
            elif number in numbers["write"] and args[2] > WINE_REQUEST_BYTES:
                kind = "file writes"
            elif number in numbers["writev"] and arch == "32":
                kind = "wineserver requests"
            elif number in numbers["poll"]:
                kind = "polls"
            else:
                kind = "other"
            time = float(match.group(3))
            events.append((time, kind))
            pending[match.group(2)] = (kind, time)
            continue
        match = exited.match(line)
        if match and match.group(1).startswith(comm[:15]):
            kind, time = pending.pop(match.group(2), (None, 0))
            if kind == "receives" and int(match.group(5)) > WINE_REQUEST_BYTES:
                bulk.append(time)
    counts = collections.Counter()
    if not bulk:
        return counts
    start, end = min(bulk), max(bulk)
    for time, kind in events:
        if start <= time <= end:
            counts[kind] += 1
            counts["all"] += 1
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bytes", type=int, required=True)
    parser.add_argument("--wineserver", type=int, default=0)
    parser.add_argument("--sender", type=int, default=0)
    parser.add_argument("contenders", nargs="+")
    args = parser.parse_args()
    per_gib = (1 << 30) / args.bytes

    columns = []
    for contender in args.contenders:
        name, comm, arch, cpu_data, sys_data, mbs = contender.split(",")
        client, other = cpu_profile(cpu_data, comm, args.wineserver, args.sender)
        calls = syscall_counts(sys_data, comm, arch)
        columns.append((name, mbs, client, other, calls))

    width = 13
    def row(label, values):
        print("%-34s" % label + "".join("%*s" % (width, v) for v in values))

    row("per GiB fetched", [c[0] for c in columns])
    row("MB/s while recorded", [c[1] for c in columns])
    row("client CPU, s", ["%.3f" % (sum(c[2].values()) / 1e9 * per_gib) for c in columns])
    for part in ORDER:
        row("  " + part, ["%.3f" % (c[2][part] / 1e9 * per_gib) for c in columns])
    row("wineserver CPU, s", ["%.3f" % (c[3]["wineserver"] / 1e9 * per_gib) for c in columns])
    row("sending server CPU, s", ["%.3f" % (c[3]["sender"] / 1e9 * per_gib) for c in columns])
    for key in ("receives", "file writes", "wineserver requests", "polls", "all"):
        label = "system calls" if key == "all" else key
        row(label, ["%.0f" % (c[4][key] * per_gib) for c in columns])
    row("KiB per receive", ["%.0f" % (args.bytes / 1024 / c[4]["receives"])
                            if c[4]["receives"] else "-" for c in columns])
    row("wineserver requests per receive",
        ["%.1f" % (c[4]["wineserver requests"] / c[4]["receives"])
         if c[4]["receives"] else "-" for c in columns])


if __name__ == "__main__":
    main()
