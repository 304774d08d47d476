"""Reads what the tests need from a PE32 or PE32+ file without loading it: whether it
is 32- or 64-bit, the import table and the fixed part of the version resource."""

import struct


class PeError(Exception):
    pass


class PeImage:
    DIR_IMPORT, DIR_RESOURCE = 1, 2
    RT_VERSION = 16

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise PeError("%s: no MZ header" % path)
        pe = self._u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise PeError("%s: no PE signature" % path)
        sections, optional_size = struct.unpack_from("<H12xH", self.data, pe + 6)
        optional = pe + 24
        magic = self._u16(optional)
        if magic not in (0x10B, 0x20B):
            raise PeError("%s: neither a PE32 nor a PE32+ image" % path)
        self.bits = 32 if magic == 0x10B else 64
        self.subsystem_version = struct.unpack_from("<HH", self.data, optional + 48)
        # PE32+ has 16 more bytes of fields (64-bit sizes) before the directories.
        directories = optional + (96 if self.bits == 32 else 112)
        count = self._u32(directories - 4)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", self.data, table + 40 * i + 8)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise PeError("address 0x%x lies in no section" % rva)

    def _text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def _directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def _names(self, rva):
        """A lookup table's entries: names, or ("#", ordinal) for imports by ordinal."""
        names, at = [], self.offset(rva)
        size = self.bits // 8
        ordinal_flag = 1 << (self.bits - 1)
        while True:
            entry = int.from_bytes(self.data[at:at + size], "little")
            if entry == 0:
                return names
            if entry & ordinal_flag:
                names.append(("#", entry & 0xFFFF))
            else:
                names.append(self._text((entry & 0x7FFFFFFF) + 2))  # past the hint
            at += size

    def imports(self):
        """[(dll, [name or ("#", ordinal)])] of the import table, in its order."""
        result = []
        rva, _ = self._directory(self.DIR_IMPORT)
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, address = struct.unpack_from("<5I", self.data, at)
            if name == 0:
                break
            result.append((self._text(name), self._names(lookup or address)))
            at += 20
        return result

    def _resource_entries(self, directory_offset):
        named, ids = struct.unpack_from("<HH", self.data, directory_offset + 12)
        return [struct.unpack_from("<II", self.data, directory_offset + 16 + 8 * i)
                for i in range(named + ids)]

    def file_version(self):
        """(major, minor, build, revision) of the first version resource, or None."""
        rva, _ = self._directory(self.DIR_RESOURCE)
        if not rva:
            return None
        base = self.offset(rva)
        # Three levels: the type, then the resource's first name and first language;
        # the first two lead to directories, the last to the data's description.
        entry = base
        for depth in range(3):
            entries = self._resource_entries(entry)
            if depth == 0:
                entries = [e for e in entries if e[0] == self.RT_VERSION]
            if not entries or bool(entries[0][1] & 0x80000000) != (depth < 2):
                return None
            entry = base + (entries[0][1] & 0x7FFFFFFF)
        data_rva, size = struct.unpack_from("<II", self.data, entry)
        start = self.offset(data_rva)
        block = self.data[start:start + size]
        at = block.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
        if at < 0:
            return None
        ms, ls = struct.unpack_from("<II", block, at + 8)
        return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF
