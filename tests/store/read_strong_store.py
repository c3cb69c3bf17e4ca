#!/usr/bin/env python3
"""Lists the records of a strong store (docs/format.md), written from that page alone.

    read_strong_store.py [--identities] FILE     (the password on standard input)

Prints one record per line and exits 0, or names the problem and exits 1.
With --identities (version 4 on), each record line is followed by its id, times
and earlier versions (from version 5 with their one-time codes, and the record's
own code), and the removal marks come last.
"""
import ctypes
import ctypes.util
import hashlib
import struct
import sys
import unicodedata

HEADER = 136  # version 3 adds a 16-byte checksum after it


def read_code(entry, used, version, index):
    """From version 5: a one-time code's length (2) and bytes at used."""
    if version < 5:
        return b"", used
    if used + 2 > len(entry):
        fail("damaged at frame %d" % index)
    (length,) = struct.unpack_from("<H", entry, used)
    if used + 2 + length > len(entry):
        fail("damaged at frame %d" % index)
    return entry[used + 2:used + 2 + length], used + 2 + length


def fail(why):
    print(why, file=sys.stderr)
    sys.exit(1)


def main():
    sodium = ctypes.CDLL(ctypes.util.find_library("sodium"))
    if sodium.sodium_init() < 0:
        fail("libsodium did not start")
    identities = sys.argv[1] == "--identities"
    data = open(sys.argv[-1], "rb").read()
    password = unicodedata.normalize("NFC", sys.stdin.readline().rstrip("\n")).encode("utf-8")
    if data[:8] != b"VLSTRONG":
        fail("not a strong store")
    if len(data) < HEADER:
        fail("header damaged")
    version, kdf, _reserved, passes, memory = struct.unpack_from("<HBBIQ", data, 8)
    if version not in (1, 2, 3, 4, 5):
        fail("unknown version")
    checked = version >= 3
    header = HEADER + (16 if checked else 0)
    head = 4 + (4 if checked else 0) + 24
    if checked and (len(data) < header or
                    hashlib.blake2b(data[:HEADER], digest_size=16).digest() != data[HEADER:header]):
        fail("header damaged")
    if kdf != 2:
        fail("unknown version")
    if not (3 <= passes <= 20 and 64 << 20 <= memory <= 1 << 30):
        fail("derivation parameters out of range")
    salt, file_id = data[24:40], data[40:56]
    (count,) = struct.unpack_from("<Q", data, 56)

    derived = ctypes.create_string_buffer(32)
    alg_argon2id13 = 2
    if sodium.crypto_pwhash(derived, ctypes.c_ulonglong(32), password,
                            ctypes.c_ulonglong(len(password)), salt,
                            ctypes.c_ulonglong(passes), ctypes.c_size_t(memory),
                            ctypes.c_int(alg_argon2id13)) != 0:
        fail("out of memory")

    def aead_open(ciphertext, ad, nonce, key):
        out = ctypes.create_string_buffer(len(ciphertext))
        out_len = ctypes.c_ulonglong(0)
        if sodium.crypto_aead_xchacha20poly1305_ietf_decrypt(
                out, ctypes.byref(out_len), None, ciphertext,
                ctypes.c_ulonglong(len(ciphertext)), ad, ctypes.c_ulonglong(len(ad)),
                nonce, key) != 0:
            return None
        return out.raw[:out_len.value]

    data_key = aead_open(data[88:136], data[:64], data[64:88], derived)
    if data_key is None:
        fail("wrong password")

    at, index, records, marks = header, 0, [], []
    while at < len(data):
        left = len(data) - at
        appended = index >= count
        # Only an append cut short, proved so by its checked length, is torn.
        if checked and appended and (left < 8 or data[at:] == bytes(left)):
            break  # torn
        if left < 8:
            fail("damaged at frame %d" % index)
        (length,) = struct.unpack_from("<I", data, at)
        ad = file_id + struct.pack("<Q", index)
        if checked and data[at + 4:at + 8] != hashlib.blake2b(
                ad + struct.pack("<I", length), digest_size=16).digest()[:4]:
            fail("damaged at frame %d" % index)
        if length < 80 or length > 512 << 20 or (length - 16) % 64:
            fail("damaged at frame %d" % index)
        if length > left - head:
            if checked and appended:
                break  # torn
            fail("damaged at frame %d" % index)
        plain = aead_open(data[at + head:at + head + length], ad, data[at + head - 24:at + head],
                          data_key)
        if plain is None:
            fail("damaged at frame %d" % index)
        pos, held = 0, 0
        while pos + 4 <= len(plain):
            (size,) = struct.unpack_from("<I", plain, pos)
            if size == 0:
                break
            if size > len(plain) - pos - 4:
                fail("damaged at frame %d" % index)
            entry = plain[pos + 4:pos + 4 + size]
            if version < 4:
                records.append((entry, None))
            elif entry[:1] == b"T" and size == 25:
                marks.append((entry[1:17], struct.unpack_from("<q", entry, 17)[0]))
            elif entry[:1] == b"R" and size > 34:
                record_id = entry[1:17]
                created, changed = struct.unpack_from("<qq", entry, 17)
                earlier, used = [], 34
                for _ in range(entry[33]):
                    if used + 12 > size:
                        fail("damaged at frame %d" % index)
                    when, old_size = struct.unpack_from("<qI", entry, used)
                    if old_size == 0 or used + 12 + old_size > size:
                        fail("damaged at frame %d" % index)
                    old_line = entry[used + 12:used + 12 + old_size]
                    used += 12 + old_size
                    old_code, used = read_code(entry, used, version, index)
                    earlier.append((when, old_line, old_code))
                code, used = read_code(entry, used, version, index)
                if entry[33] > 10 or used >= size:
                    fail("damaged at frame %d" % index)
                records.append((entry[used:], (record_id, created, changed, earlier, code)))
            else:
                fail("damaged at frame %d" % index)
            pos, held = pos + 4 + size, held + 1
        if held == 0:
            fail("damaged at frame %d" % index)
        at += head + length
        index += 1
    if index < count:
        fail("frames cut off")
    out = sys.stdout.buffer
    for record, identity in records:
        out.write(record + b"\n")
        if identities and identity:
            record_id, created, changed, earlier, code = identity
            out.write(b"  id %s created %d changed %d\n" % (record_id.hex().encode(), created, changed))
            if code:
                out.write(b"  code %s\n" % code)
            for when, line, old_code in earlier:
                out.write(b"  earlier %d %s%s\n" % (when, line, b" code " + old_code if old_code else b""))
    if identities:
        for record_id, removed in marks:
            out.write(b"removed %s at %d\n" % (record_id.hex().encode(), removed))


if __name__ == "__main__":
    main()
