#!/usr/bin/python3
"""Encrypts the Workbook stream of a BIFF8 .xls the ways no tool at hand writes, following
MS-XLS 2.2.10 and 2.4.117 and MS-OFFCRYPTO 2.3.5 and 2.3.7 (standard library only):

    make_biff_encrypted.py IN.xls OUT.xls xor PASSWORD
    make_biff_encrypted.py IN.xls OUT.xls cryptoapi PASSWORD [KEYBITS]

A FILEPASS record goes right after the first BOF, the sheet offsets of the BOUNDSHEET
records move past it, and every later record's data is encrypted except that of BOF,
FILEPASS, USREXCL, FILELOCK, INTERFACEHDR, RRDINFO, RRDHEAD and the sheet offset of
BOUNDSHEET. The output is a compound file holding only the Workbook stream.
"""
import hashlib
import os
import struct
import sys

CLEAR = {0x0809, 0x002F, 0x0194, 0x0195, 0x00E1, 0x0196, 0x0138}
BOUNDSHEET = 0x0085
END = 0xFFFFFFFE
FREE = 0xFFFFFFFF


def read_workbook_stream(path):
    data = open(path, "rb").read()
    sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]

    def sector(n):
        return data[(n + 1) * sector_size:(n + 2) * sector_size]

    fat_sectors = [s for s in struct.unpack_from("<109I", data, 0x4C) if s < FREE - 1]
    fat = []
    for s in fat_sectors:
        fat += struct.unpack("<%dI" % (sector_size // 4), sector(s))

    def chain(start):
        out = b""
        while start < END:
            out += sector(start)
            start = fat[start]
        return out

    directory = chain(struct.unpack_from("<I", data, 0x30)[0])
    for i in range(0, len(directory), 128):
        entry = directory[i:i + 128]
        length = struct.unpack_from("<H", entry, 0x40)[0]
        if entry[:length - 2].decode("utf-16-le") == "Workbook":
            start, size = struct.unpack_from("<II", entry, 0x74)
            if size < 4096:
                sys.exit("the Workbook stream is in the mini stream; give a larger workbook")
            return chain(start)[:size]
    sys.exit("no Workbook stream")


def records(stream):
    pos = 0
    while pos + 4 <= len(stream):
        kind, size = struct.unpack_from("<HH", stream, pos)
        yield kind, bytearray(stream[pos + 4:pos + 4 + size])
        pos += 4 + size


def rc4(key, length):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for _ in range(length):
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(s[(s[i] + s[j]) & 0xFF])
    return out


# MS-OFFCRYPTO 2.3.7.1-2.3.7.3
PAD = [0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00]
INITIAL = [0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
           0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3]
MATRIX = [
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B,
    0xC6F7, 0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375,
    0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D,
    0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667,
    0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68,
    0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1,
    0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168,
    0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C, 0x3730, 0x6E60, 0xDCC0, 0xA9A1,
    0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC, 0x1021,
    0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4]


def xor_key(password):
    key = INITIAL[len(password) - 1]
    element = 104
    for c in reversed(password):
        for _ in range(7):
            if c & 0x40:
                key ^= MATRIX[element]
            c = (c << 1) & 0xFF
            element -= 1
    return key


def verifier(password):
    v = 0
    for b in list(reversed(password)) + [len(password)]:
        v = ((((v << 1) & 0x7FFF) | (1 if v & 0x4000 else 0)) ^ b)
    return v ^ 0xCE4B


def ror(b, n):
    return ((b >> n) | (b << (8 - n))) & 0xFF


def xor_array(password):
    key = xor_key(password)
    high, low = key >> 8, key & 0xFF
    out = [0] * 16
    index = len(password)
    if index % 2 == 1:
        out[index] = ror(PAD[0] ^ high, 1)
        index -= 1
        out[index] = ror(password[-1] ^ low, 1)
    while index > 0:
        index -= 1
        out[index] = ror(password[index] ^ high, 1)
        index -= 1
        out[index] = ror(password[index] ^ low, 1)
    index, pad = 15, 15 - len(password)
    while pad > 0:
        out[index] = ror(PAD[pad] ^ high, 1)
        out[index - 1] = ror(PAD[pad - 1] ^ low, 1)
        index, pad = index - 2, pad - 2
    return out


def write_compound_file(path, stream):
    sectors = (len(stream) + 511) // 512
    if sectors + 2 > 128:
        sys.exit("the stream is too large for this small writer")
    fat = [0xFFFFFFFD, END] + [3 + i for i in range(sectors - 1)] + [END]
    fat += [FREE] * (128 - len(fat))
    header = bytearray(512)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 0x2C, 1, 1, 0, 4096, END, 0, END, 0, 0)
    struct.pack_into("<108I", header, 0x50, *([FREE] * 108))

    def entry(name, kind, child, start, size):
        e = bytearray(128)
        encoded = name.encode("utf-16-le") + b"\0\0"
        e[:len(encoded)] = encoded
        struct.pack_into("<HBB", e, 0x40, len(encoded), kind, 1)
        struct.pack_into("<III", e, 0x44, FREE, FREE, child)
        struct.pack_into("<IQ", e, 0x74, start, size)
        return e

    directory = entry("Root Entry", 5, 1, END, 0) + entry("Workbook", 2, FREE, 2, len(stream))
    directory += bytes(512 - len(directory))
    body = struct.pack("<128I", *fat) + directory + stream + bytes(sectors * 512 - len(stream))
    open(path, "wb").write(bytes(header) + body)


def main():
    source, target, method, password = sys.argv[1:5]
    if method == "xor":
        pw = password.encode("latin-1")
        filepass = struct.pack("<HHH", 0, xor_key(pw), verifier(pw))
        table = xor_array(pw)

        def encrypt(data_pos, data, start):
            for i in range(start, len(data)):
                v = ((data[i] << 5) | (data[i] >> 3)) & 0xFF
                data[i] = v ^ table[(data_pos + len(data) + i) % 16]
    else:
        key_bits = int(sys.argv[5]) if len(sys.argv) > 5 else 128
        salt = os.urandom(16)
        h0 = hashlib.sha1(salt + password.encode("utf-16-le")).digest()

        def block_key(block):
            key = hashlib.sha1(h0 + struct.pack("<I", block)).digest()[:key_bits // 8]
            return key + bytes(16 - len(key)) if key_bits == 40 else key

        plain = os.urandom(16)
        sealed = bytes(a ^ b for a, b in zip(plain + hashlib.sha1(plain).digest(),
                                                rc4(block_key(0), 36)))
        provider = ("Microsoft Base Cryptographic Provider v1.0" if key_bits == 40 else
                    "Microsoft Enhanced Cryptographic Provider v1.0")
        csp = (provider + "\0").encode("utf-16-le")
        header = struct.pack("<8I", 0x04, 0, 0x6801, 0x8004, key_bits, 1, 0, 0) + csp
        filepass = (struct.pack("<HHHII", 1, 4, 2, 0x04, len(header)) + header +
                    struct.pack("<I", 16) + salt + sealed[:16] + struct.pack("<I", 20) +
                    sealed[16:])
        streams = {}

        def encrypt(data_pos, data, start):
            for i in range(start, len(data)):
                block, offset = divmod(data_pos + i, 1024)
                if block not in streams:
                    streams[block] = rc4(block_key(block), 1024)
                data[i] ^= streams[block][offset]

    stream = read_workbook_stream(source)
    recs = list(records(stream))
    shift = 4 + len(filepass)
    recs.insert(1, (0x002F, bytearray(filepass)))
    out = bytearray()
    for index, (kind, data) in enumerate(recs):
        if kind == BOUNDSHEET:
            struct.pack_into("<I", data, 0, struct.unpack_from("<I", data, 0)[0] + shift)
        data_pos = len(out) + 4
        if index > 1 and kind not in CLEAR:
            encrypt(data_pos, data, 4 if kind == BOUNDSHEET else 0)
        out += struct.pack("<HH", kind, len(data)) + data
    write_compound_file(target, bytes(out))


main()
