#!/usr/bin/env python3
"""Copies an engine library, without debug data, with an extra read-only data section
that brings the file to about the given size; the loader maps that section like the
real engine's code and data."""
import os
import random
import subprocess
import sys

source, target, size, objcopy = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
objdump = objcopy[:-len("objcopy")] + "objdump"
stripped = target + ".stripped"
pad = target + ".pad"
subprocess.run([objcopy, "--strip-debug", source, stripped], check=True)

# The new section goes right after the image's end.
fields = {}
for line in subprocess.run([objdump, "-p", stripped], check=True, capture_output=True,
                           text=True).stdout.splitlines():
    parts = line.split()
    if len(parts) == 2 and parts[0] in ("ImageBase", "SizeOfImage"):
        fields[parts[0]] = int(parts[1], 16)
end = fields["ImageBase"] + fields["SizeOfImage"]

# Not zeros: nothing on the way may store or compare it more cheaply than real code.
pad_size = size - os.path.getsize(stripped) - 4096
block = random.Random(101).randbytes(1 << 20)
with open(pad, "wb") as f:
    while pad_size > 0:
        f.write(block[:pad_size])
        pad_size -= len(block)
subprocess.run([objcopy, "--add-section", ".pad=" + pad,
                "--set-section-flags", ".pad=contents,alloc,load,readonly,data",
                "--change-section-address", ".pad=0x%x" % end, stripped, target], check=True)
os.remove(pad)
os.remove(stripped)
print("%s: %d bytes" % (target, os.path.getsize(target)))
