#!/usr/bin/env python3
"""Independent model of the clsCrypGost cipher, in plain Python (standard library only).

It exists to cross-check korvane-gost: whatever one side encrypts, the other must decrypt. It is written
from the cipher's own rules, not from the C++ code, so a fault has to be made twice to go unnoticed.

The decisions a reader must know:
- S-boxes S0..S7 below; S0 substitutes the lowest nibble of the round word, S7 the highest.
- Data words are big-endian in the byte layout; subkeys, the size descriptor and the random words little-endian.
- The round sum is split into bytes by repeated signed division by 256 rounding toward zero, so a sum with
  bit 31 set does not split into its plain bytes. The substituted bytes are reassembled little-endian (the byte
  from the top of the sum lands at the bottom) and rotated left by 11. Output is not GOST 28147-89 output.
- Neither block operation exchanges its words at the end; decryption takes the encrypted words exchanged.
- CBC with an all-zero IV over: 2 random words, the size descriptor N, the data, zero padding to 8.
  Decryption checks only the size descriptor (and the length); there is no MAC.

Usage:
  gost_reference.py --self-test
  gost_reference.py encrypt-file IN OUT | decrypt-file IN OUT | encrypt-string TEXT | decrypt-string HEX
      (the key is taken from the environment variable KORVANE_GOST_KEY)
"""

import os
import struct
import sys

MASK32 = 0xFFFFFFFF
BLOCK_SIZE = 8
HEADER_SIZE = 12  # two random words and the size descriptor
SIZE_DESCRIPTOR_ERROR = -2147221504
SIZE_DESCRIPTOR_TEXT = "Incorrect size descriptor in Gost decryption"
CODEC = "cp1252"

SBOXES = (
    (6, 5, 1, 7, 14, 0, 4, 10, 11, 9, 3, 13, 8, 12, 2, 15),   # S0
    (14, 13, 9, 0, 8, 10, 12, 4, 7, 15, 6, 11, 3, 1, 5, 2),   # S1
    (6, 5, 1, 7, 2, 4, 10, 0, 11, 13, 14, 3, 8, 12, 15, 9),   # S2
    (8, 7, 3, 9, 6, 4, 14, 5, 2, 13, 0, 12, 1, 11, 10, 15),   # S3
    (10, 9, 6, 11, 5, 1, 8, 4, 0, 13, 7, 2, 14, 3, 15, 12),   # S4
    (5, 3, 0, 6, 11, 13, 4, 14, 10, 7, 1, 12, 2, 8, 15, 9),   # S5
    (2, 1, 12, 3, 11, 13, 15, 7, 10, 6, 9, 14, 0, 8, 4, 5),   # S6
    (6, 5, 1, 7, 8, 9, 4, 2, 15, 3, 13, 12, 10, 14, 11, 0),   # S7
)


class GostError(Exception):
    """A failure with the number and description the class reports."""

    def __init__(self, number, description):
        super().__init__(f"{number} - {description}")
        self.number = number
        self.description = description


def size_descriptor_error():
    return GostError(SIZE_DESCRIPTOR_ERROR, SIZE_DESCRIPTOR_TEXT)


def _combined(high_box, low_box):
    return tuple(16 * SBOXES[high_box][n >> 4] + SBOXES[low_box][n & 15] for n in range(256))


SUBST_TABLE0 = _combined(1, 0)  # applied to b0, the byte from the most significant end of the sum
SUBST_TABLE1 = _combined(3, 2)
SUBST_TABLE2 = _combined(5, 4)
SUBST_TABLE3 = _combined(7, 6)  # applied to b3, the least significant byte of the sum


def rotl32(value, count):
    value &= MASK32
    return ((value << count) | (value >> (32 - count))) & MASK32


def to_signed32(value):
    value &= MASK32
    return value - 0x100000000 if value & 0x80000000 else value


def div_toward_zero(a, d):
    q = abs(a) // d
    return -q if a < 0 else q


def split_sum(s):
    """The four bytes (b0, b1, b2, b3) of a round sum, by signed division rounding toward zero."""
    v = to_signed32(s)
    b3 = v & 255
    v = div_toward_zero(v, 256)
    b2 = v & 255
    v = div_toward_zero(v, 256)
    b1 = v & 255
    v = div_toward_zero(v, 256)
    b0 = v & 255
    return b0, b1, b2, b3


def split_plain(s):
    """The ordinary bytes of s, most significant first; only for showing how the real split differs."""
    s &= MASK32
    return s >> 24, (s >> 16) & 255, (s >> 8) & 255, s & 255


def unsigned_add(a, b):
    carry = 0
    result = 0
    for i in range(4):
        t = ((a >> (8 * i)) & 255) + ((b >> (8 * i)) & 255) + carry
        result |= (t & 255) << (8 * i)
        carry = t >> 8
    return result


def round_function_slow(x, k, split=split_sum):
    """The round function step by step; the fast tables below are built from it and checked against it."""
    b0, b1, b2, b3 = split(unsigned_add(x, k))
    w = (SUBST_TABLE0[b0] | SUBST_TABLE1[b1] << 8 | SUBST_TABLE2[b2] << 16 | SUBST_TABLE3[b3] << 24)
    return rotl32(w, 11)


# Fast round function. Each substituted byte contributes to its own 8 bits of the rotated result, so the
# result is the XOR of four per-byte contributions. The low half of the sum fixes (b2, b3) together with the
# sign; the high half fixes (b0, b1) together with whether the low half is zero (that decides the carries of the
# rounding toward zero into b1 and b0 when the sum is negative). So two table lookups make one round.
_ROT0 = [rotl32(SUBST_TABLE0[b], 11) for b in range(256)]
_ROT1 = [rotl32(SUBST_TABLE1[b] << 8, 11) for b in range(256)]
_ROT2 = [rotl32(SUBST_TABLE2[b] << 16, 11) for b in range(256)]
_ROT3 = [rotl32(SUBST_TABLE3[b] << 24, 11) for b in range(256)]


def _build_low_table():
    # index: low 16 bits of the sum, plus 0x10000 when bit 31 of the sum is set
    table = [0] * 0x20000
    for sign in (0, 1):
        for lo in range(0x10000):
            _, _, b2, b3 = split_sum((sign << 31) | lo)
            table[(sign << 16) | lo] = _ROT2[b2] ^ _ROT3[b3]
    return table


def _build_high_table():
    # index: high 16 bits of the sum, plus 0x10000 when the low 16 bits are not all zero
    table = [0] * 0x20000
    for low_nonzero in (0, 1):
        for hi in range(0x10000):
            b0, b1, _, _ = split_sum((hi << 16) | low_nonzero)
            table[(low_nonzero << 16) | hi] = _ROT0[b0] ^ _ROT1[b1]
    return table


_LOW = _build_low_table()
_HIGH = _build_high_table()


def round_function(x, k):
    s = (x + k) & MASK32
    lo = s & 0xFFFF
    hi = s >> 16
    return _LOW[lo | ((hi & 0x8000) << 1)] ^ _HIGH[hi | (0x10000 if lo else 0)]


def subkeys_from_key(key_text):
    """Eight subkeys from a key text; the empty text leaves the all-zero subkeys of a fresh instance."""
    if key_text == "":
        return (0,) * 8
    raw = key_text.encode(CODEC)  # refuses characters Windows-1252 cannot hold
    length = len(key_text)
    if len(raw) < length:
        raise GostError(9, "Subscript out of range")
    block = bytes(raw[i % length] for i in range(32))
    return struct.unpack("<8I", block)


def _round_keys(subkeys, encrypt):
    forward = list(subkeys)
    backward = forward[::-1]
    return tuple(forward * 3 + backward) if encrypt else tuple(forward + backward * 3)


def _make_block_op(round_keys):
    """A block operation on (A, B): per round pair, B ^= F(A, k) then A ^= F(B, k'); words never exchanged."""
    pairs = tuple((round_keys[i], round_keys[i + 1]) for i in range(0, 32, 2))
    low, high = _LOW, _HIGH

    def block_op(a, b):
        for k1, k2 in pairs:
            s = (a + k1) & 0xFFFFFFFF
            lo = s & 0xFFFF
            hi = s >> 16
            b ^= low[lo | ((hi & 0x8000) << 1)] ^ high[hi | (0x10000 if lo else 0)]
            s = (b + k2) & 0xFFFFFFFF
            lo = s & 0xFFFF
            hi = s >> 16
            a ^= low[lo | ((hi & 0x8000) << 1)] ^ high[hi | (0x10000 if lo else 0)]
        return a, b

    return block_op


def random_word():
    return int.from_bytes(os.urandom(4), "little") & 0x7FFFFFFF


def layout_length(n):
    t = n + HEADER_SIZE
    if t % BLOCK_SIZE:
        t += BLOCK_SIZE - t % BLOCK_SIZE
    return t


def build_layout(data, random_words):
    """The plain layout: random words, size descriptor, data, zero padding."""
    n = len(data)
    w1, w2 = random_words
    head = struct.pack("<IIi", w1, w2, n)
    return head + bytes(data) + bytes(layout_length(n) - HEADER_SIZE - n)


class Gost:
    def __init__(self, key=""):
        self.subkeys = subkeys_from_key(key)
        self._encrypt_block = _make_block_op(_round_keys(self.subkeys, True))
        self._decrypt_block = _make_block_op(_round_keys(self.subkeys, False))

    # Block primitive, operands as the class takes them.
    def encrypt_block(self, a, b):
        return self._encrypt_block(a, b)

    def decrypt_block(self, a, b):
        return self._decrypt_block(a, b)

    # CBC over any whole number of blocks, all-zero IV.
    def encrypt_raw(self, plain):
        if len(plain) % BLOCK_SIZE:
            raise ValueError("not a whole number of blocks")
        words = struct.unpack(f">{len(plain) // 4}I", plain)
        out = [0] * len(words)
        enc = self._encrypt_block
        c1 = c2 = 0
        for i in range(0, len(words), 2):
            c1, c2 = enc(words[i] ^ c1, words[i + 1] ^ c2)
            out[i] = c1
            out[i + 1] = c2
        return struct.pack(f">{len(out)}I", *out)

    def decrypt_raw(self, cipher):
        if len(cipher) % BLOCK_SIZE:
            raise ValueError("not a whole number of blocks")
        words = struct.unpack(f">{len(cipher) // 4}I", cipher)
        out = [0] * len(words)
        dec = self._decrypt_block
        c1 = c2 = 0
        for i in range(0, len(words), 2):
            left, right = words[i], words[i + 1]
            r, l = dec(right, left)  # the encrypted words go in exchanged
            out[i] = l ^ c1
            out[i + 1] = r ^ c2
            c1, c2 = left, right
        return struct.pack(f">{len(out)}I", *out)

    # Byte arrays in the encrypted layout.
    def encrypt_bytes(self, data, random_words=None):
        if random_words is None:
            random_words = (random_word(), random_word())
        return self.encrypt_raw(build_layout(data, random_words))

    def decrypt_bytes(self, cipher):
        t = len(cipher)
        if t == 0:
            return b""
        if t % BLOCK_SIZE or t < 2 * BLOCK_SIZE:
            raise size_descriptor_error()
        plain = self.decrypt_raw(cipher)
        (n,) = struct.unpack_from("<i", plain, 8)
        if n < 0 or not HEADER_SIZE <= t - n <= HEADER_SIZE + BLOCK_SIZE - 1:
            raise size_descriptor_error()
        return plain[HEADER_SIZE:HEADER_SIZE + n]

    # Strings: Windows-1252 text, optionally in the hex text form.
    def encrypt_string(self, text, random_words=None):
        return bytes_to_hex(self.encrypt_bytes(text.encode(CODEC), random_words))

    def decrypt_string(self, hex_text):
        if hex_text == "":
            return ""
        return self.decrypt_bytes(hex_to_bytes(hex_text)).decode(CODEC)

    def encrypt_file(self, in_path, out_path, random_words=None):
        with open(in_path, "rb") as f:
            data = f.read()
        with open(out_path, "wb") as f:
            f.write(self.encrypt_bytes(data, random_words))

    def decrypt_file(self, in_path, out_path):
        with open(in_path, "rb") as f:
            data = f.read()
        plain = self.decrypt_bytes(data)
        with open(out_path, "wb") as f:
            f.write(plain)


def bytes_to_hex(data):
    return "".join(f"{b:02X}" for b in data)


def _read_hex_pair(pair):
    value = 0
    for ch in pair:
        if ch not in "0123456789abcdefABCDEF":
            break
        value = value * 16 + int(ch, 16)
    return value


def hex_to_bytes(text):
    """Lenient like the class: pairs read from the left up to the first non-digit, an odd last digit alone."""
    return bytes(_read_hex_pair(text[p:p + 2]) for p in range(0, len(text), 2))


# ---------------------------------------------------------------------------------------------- self-test

class _Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def equal(self, what, got, expected):
        if got == expected:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {what}: got {_show(got)}, expected {_show(expected)}")

    def raises(self, what, fn, number=None, kind=GostError):
        """fn must raise kind; a GostError must also carry number."""
        try:
            fn()
        except kind as e:
            self.equal(what, getattr(e, "number", None), number)
            return
        except Exception as e:  # noqa: BLE001 - any other exception is a failure of the check
            self.equal(what, repr(e), kind.__name__)
            return
        self.equal(what, "no error", kind.__name__)


def _show(value):
    if isinstance(value, int):
        return f"0x{value:08X}"
    if isinstance(value, (bytes, bytearray)):
        return value.hex(" ").upper()
    if isinstance(value, tuple):
        return "(" + ", ".join(_show(v) for v in value) + ")"
    return repr(value)


def _hexbytes(text):
    return bytes.fromhex(text)


def self_test():
    import random

    check = _Checker()

    spots = [
        (SUBST_TABLE0, 0x00, 0xE6), (SUBST_TABLE0, 0xFF, 0x2F),
        (SUBST_TABLE1, 0x00, 0x86), (SUBST_TABLE1, 0xFF, 0xF9),
        (SUBST_TABLE2, 0x00, 0x5A), (SUBST_TABLE2, 0xFF, 0x9C),
        (SUBST_TABLE3, 0x00, 0x62), (SUBST_TABLE3, 0xFF, 0x05),
    ]
    for i, (table, n, expected) in enumerate(spots):
        check.equal(f"SubstTable{i // 2}[{n:#04x}]", table[n], expected)
    for r, box in enumerate(SBOXES):
        check.equal(f"S{r} is a permutation", sorted(box), list(range(16)))

    check.equal("split 0xFFFFFFFF", split_sum(0xFFFFFFFF), (0x00, 0x00, 0x00, 0xFF))
    check.equal("split 0x80000001", split_sum(0x80000001), (0x81, 0x01, 0x01, 0x01))
    check.equal("split 0x80000000", split_sum(0x80000000), (0x80, 0x00, 0x00, 0x00))
    check.equal("split 0x12345678", split_sum(0x12345678), (0x12, 0x34, 0x56, 0x78))

    check.equal("UnsignedAdd(0xFFFFFFFF, 1)", unsigned_add(0xFFFFFFFF, 1), 0)
    check.equal("UnsignedAdd(0x7FFFFFFF, 1)", unsigned_add(0x7FFFFFFF, 1), 0x80000000)

    round_answers = [
        (0x00000000, 0xD4373312), (0x00000001, 0xD437330A), (0x12345678, 0xC4968956),
        (0x7FFFFFFF, 0xE7CA782C), (0x80000000, 0xD433B312), (0x80000001, 0xCC2BAB0A),
        (0xFFFFFFFF, 0xD437302A),
    ]
    for x, expected in round_answers:
        check.equal(f"RoundFunction slow({x:#010x}, 0)", round_function_slow(x, 0), expected)
        check.equal(f"RoundFunction fast({x:#010x}, 0)", round_function(x, 0), expected)
    check.equal("plain split of 0xFFFFFFFF differs", round_function_slow(0xFFFFFFFF, 0, split_plain), 0xE7C9782C)

    # The fast tables against the step-by-step function, on the edges of the rounding and on random sums.
    rng = random.Random(20240601)
    edges = [0, 1, 0xFF, 0x100, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0x80000001, 0x800000FF,
             0x80000100, 0x8000FFFF, 0x80010000, 0x80FFFFFF, 0x81000000, 0xFF000000, 0xFF000001,
             0xFFFF0000, 0xFFFF0001, 0xFFFFFF00, 0xFFFFFF01, 0xFFFFFFFE, 0xFFFFFFFF]
    mismatches = [(x, k) for x, k in
                  [(e, 0) for e in edges] + [(rng.getrandbits(32), rng.getrandbits(32)) for _ in range(20000)]
                  if round_function(x, k) != round_function_slow(x, k)]
    check.equal("fast round function agrees with the step-by-step one (count, first cases)",
                (len(mismatches), mismatches[:3]), (0, []))

    zero = Gost()
    check.equal("EncryptBlock(0, 0)", zero.encrypt_block(0, 0), (0x6945C8C5, 0xBB8D0AD1))
    check.equal("EncryptBlock twice", zero.encrypt_block(0x6945C8C5, 0xBB8D0AD1), (0x460C66EA, 0x9A3B71E7))
    check.equal("DecryptBlock(B', A')", zero.decrypt_block(0xBB8D0AD1, 0x6945C8C5), (0, 0))

    check.equal("one-character key", Gost("A").subkeys, (0x41414141,) * 8)
    k3 = Gost("abc").subkeys
    check.equal("three-character key",
                k3, struct.unpack("<8I", b"abcabcabcabcabcabcabcabcabcabcab"))
    check.equal("three-character key K0 = K3 = K6", (k3[0], k3[3], k3[6]), (0x61636261,) * 3)
    key32 = "0123456789abcdefghijklmnopqrstuv"
    check.equal("32 characters used once, in order", Gost(key32).subkeys,
                struct.unpack("<8I", key32.encode("ascii")))
    check.equal("only the first 32 characters count", Gost(key32 + "wxyz").subkeys, Gost(key32).subkeys)
    check.equal("key cycles by characters, not UTF-8 bytes", Gost("é€").subkeys,
                struct.unpack("<8I", b"\xe9\x80" * 16))

    empty = zero.encrypt_bytes(b"", (0, 0))
    check.equal("empty array, random words 0", empty, _hexbytes("6945C8C5BB8D0AD1460C66EA9A3B71E7"))
    hello = zero.encrypt_bytes(b"Hello", (0, 0))
    check.equal("five bytes, random words 0", hello,
                _hexbytes("6945C8C5BB8D0AD16494A45C9345717A24DF52694E877682"))
    check.equal("decrypt the empty known answer", zero.decrypt_bytes(empty), b"")
    check.equal("decrypt the five-byte known answer", zero.decrypt_bytes(hello), b"Hello")
    layout5 = build_layout(b"Hello", (0, 0))
    check.equal("5-byte layout length", len(layout5), 24)
    check.equal("5-byte layout descriptor", layout5[8:12], b"\x05\x00\x00\x00")
    check.equal("5-byte layout padding", layout5[17:24], bytes(7))
    for n, t in [(0, 16), (4, 16), (5, 24), (12, 24), (13, 32)]:
        check.equal(f"layout length for N = {n}", layout_length(n), t)

    check.equal("hex of 00 0A FF", bytes_to_hex(b"\x00\x0a\xff"), "000AFF")
    check.equal("hex pairs 4f 4G G4 and odd ABC", hex_to_bytes("4f4GG4ABC"), bytes([79, 4, 0, 171, 12]))
    check.equal("empty string hex length", len(zero.encrypt_string("")), 32)
    check.equal("five-character string hex length", len(zero.encrypt_string("abcde")), 48)

    for key in ["", "k", "pé€", "Ação — «€»"]:
        g = Gost(key)
        for n in range(18):
            data = bytes(rng.getrandbits(8) for _ in range(n))
            cipher = g.encrypt_bytes(data)
            check.equal(f"round trip, key {key!r}, {n} bytes", (len(cipher), g.decrypt_bytes(cipher)),
                        (layout_length(n), data))
        text = "Olá, € e ç"
        check.equal(f"string round trip, key {key!r}", g.decrypt_string(g.encrypt_string(text)), text)
        check.equal(f"lower-case hex, key {key!r}",
                    g.decrypt_string(g.encrypt_string(text).lower()), text)

    g = Gost("k")
    check.raises("wrong key", lambda: Gost("K").decrypt_bytes(g.encrypt_bytes(b"data", (1, 2))),
                 SIZE_DESCRIPTOR_ERROR)
    good = g.encrypt_bytes(b"0123456789", (7, 9))
    for what, bad in [("length 8", good[:8]), ("length not a multiple of 8", good[:20]),
                      ("extra bytes", good + b"abc")]:
        check.raises(what, lambda bad=bad: g.decrypt_bytes(bad), SIZE_DESCRIPTOR_ERROR)
    for n in (-1, -2, -3, -2147483648, 5, 17, 100):
        crafted = g.encrypt_raw(struct.pack("<IIi", 1, 2, n) + bytes(4))
        check.raises(f"size descriptor {n} in 16 bytes", lambda c=crafted: g.decrypt_bytes(c),
                     SIZE_DESCRIPTOR_ERROR)
    for n in (0, 4):
        crafted = g.encrypt_raw(struct.pack("<IIi", 1, 2, n) + b"\xAA" * 4)
        check.equal(f"size descriptor {n} accepted, padding not checked", g.decrypt_bytes(crafted),
                    b"\xAA" * n)
    check.raises("key of a character Windows-1252 lacks", lambda: Gost("Ω"), kind=UnicodeEncodeError)

    print(f"{check.passed} passed, {check.failed} failed")
    return check.failed == 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return 0 if self_test() else 1
    key = os.environ.get("KORVANE_GOST_KEY", "")
    commands = {"encrypt-file": 2, "decrypt-file": 2, "encrypt-string": 1, "decrypt-string": 1}
    if len(argv) < 2 or argv[1] not in commands or len(argv) != 2 + commands[argv[1]]:
        print(__doc__.split("Usage:")[1], file=sys.stderr)
        return 2
    g = Gost(key)
    try:
        if argv[1] == "encrypt-file":
            g.encrypt_file(argv[2], argv[3])
        elif argv[1] == "decrypt-file":
            g.decrypt_file(argv[2], argv[3])
        elif argv[1] == "encrypt-string":
            print(g.encrypt_string(argv[2]))
        else:
            print(g.decrypt_string(argv[2]))
    except GostError as e:
        print(e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
