#!/usr/bin/env python3
"""Import audit: every DLL and function a program imports must be exported by
Windows XP SP3, whose loader refuses a program that names anything else.

  check_xp_imports.py PROGRAM EXPORTS_DIR

EXPORTS_DIR holds one list per DLL (<dll>.txt, one exported name a line, "#" starts
a comment). An offender is a function missing from its DLL's list, a DLL without a
list, or an import by ordinal (ordinals are not stable across Windows versions); so
is a subsystem version in the header above XP's 5.1, which its loader also refuses.
Prints the imports per DLL and every offender; exits 1 when there is one.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_image import PeImage  # noqa: E402


XP_SUBSYSTEM_VERSION = (5, 1)


def load_exports(directory, dll):
    """The names the list of dll holds, or None when there is no list."""
    path = os.path.join(directory, dll.lower()[:-4] + ".txt" if dll.lower().endswith(".dll")
                        else dll.lower() + ".txt")
    if not os.path.isfile(path):
        return None
    with open(path, encoding="utf-8") as f:
        return {line.strip() for line in f if line.strip() and not line.startswith("#")}


def offenders(imports, exports_dir):
    """["dll!name: why"] for every import XP does not have."""
    found = []
    for dll, names in imports:
        exports = load_exports(exports_dir, dll)
        for name in names:
            if isinstance(name, tuple):
                found.append("%s!#%d: imported by ordinal" % (dll, name[1]))
            elif exports is None:
                found.append("%s!%s: XP has no list for this DLL" % (dll, name))
            elif name not in exports:
                found.append("%s!%s: not exported by XP SP3" % (dll, name))
    return found


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().split("\n\n")[1].strip())
        return 2
    program, exports_dir = argv[1], argv[2]
    if not os.path.isfile(os.path.join(exports_dir, "kernel32.txt")):
        print("imports_xp: no export lists in %r: the lists of XP's exports are looked for in "
              "shared/xp-exports beside the checkout; name their folder with "
              "-DBRINDLEX_XP_EXPORTS=<folder> when configuring" % exports_dir)
        return 2
    image = PeImage(program)
    imports = image.imports()
    total = sum(len(names) for _, names in imports)
    print("%s: %d imports from %d DLLs" % (os.path.basename(program), total, len(imports)))
    for dll, names in sorted(imports, key=lambda item: item[0].lower()):
        print("  %-14s %d" % (dll, len(names)))
    bad = offenders(imports, exports_dir)
    if image.subsystem_version > XP_SUBSYSTEM_VERSION:
        bad.append("header: subsystem version %d.%d is newer than XP's %d.%d"
                   % (image.subsystem_version + XP_SUBSYSTEM_VERSION))
    for line in bad:
        print("offender: " + line)
    print("%d offenders" % len(bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
