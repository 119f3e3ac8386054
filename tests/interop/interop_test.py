#!/usr/bin/env python3
"""Cross-check korvane-gost against the independent Python model in gost_reference.py.

Usage: interop_test.py PATH-TO-korvane-gost

Both directions, for files and strings: what the tool encrypts the model must decrypt (and the decrypted layout
must be well formed: random words below 2^31, the size descriptor, zero padding), and what the model encrypts
the tool must decrypt. Keys reach the tool through KORVANE_GOST_KEY or --key-file, never the command line.
Prints one line per failure and a closing "N passed, M failed"; exits 1 when anything failed.
"""

import os
import random
import re
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source folder clean when CTest runs this
sys.path.insert(0, str(Path(__file__).resolve().parent))
import gost_reference as ref  # noqa: E402

ENV_KEY = "KORVANE_GOST_KEY"
TIMEOUT_S = 120
UPPER_HEX = re.compile(r"[0-9A-F]*")


def _exact(text, length):
    assert len(text) == length, (text, len(text))
    return text


KEY_1 = _exact("K", 1)
KEY_1_ACCENT = _exact("é", 1)
KEY_3 = _exact("k3y", 3)
KEY_3_SYMBOLS = _exact("€é!", 3)
KEY_32 = _exact("Korvane-NAC3000-terminal-list-32", 32)
KEY_32_SYMBOLS = _exact("Preço €12,50 — chave «segura» nº", 32)
KEY_40 = _exact("Ação: €1.000 pelo café — «série» 40 char", 40)

# Every key in both directions for these lengths; KEY_40 additionally for every length 0..100.
SOME_LENGTHS = [0, 1, 3, 4, 5, 7, 8, 12, 13, 20, 99, 100]
FULL_SWEEP_KEY = KEY_40
MIB = 1 << 20

TEXTS = [
    "",
    "a",
    "Hello",
    "twelve chars",      # 12 characters: the last length that fits 24 bytes
    "thirteen char",     # 13: the first that needs 32
    "é",
    "€",
    "Olá, mundo!",
    "Ação — «preço» 5 € ‰ Œ œ Š š Ž ž Ÿ ƒ ˆ ˜ ™ … † ‡ • – “aspas” ‘x’ ‹›",
    "¡¿ ñ ß ÿ þ ð æ ø å ° ± µ ¶ · ¼ ½ ¾ × ÷ © ® ¬ \u00a0nbsp",
    "tab\tand\nnewline and a trailing space ",
    "Q" * 100,
]


class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, problems):
        """problems: a list of strings; empty means the check passed."""
        if problems:
            self.failed += 1
            print(f"FAIL {name}: " + "; ".join(problems))
        else:
            self.passed += 1


class Tool:
    def __init__(self, path, scratch):
        self.path = str(path)
        self.scratch = scratch
        self.key_files = 0

    def run(self, args, key=None, source="env", env_key=None, key_file_text=None):
        """Run the tool with key given through the environment or a key file.

        source "env": key in KORVANE_GOST_KEY. source "file": key written to a key file followed by one newline,
        or key_file_text written as it stands; env_key, when given, is put in the environment as well.
        """
        env = {k: v for k, v in os.environ.items() if k != ENV_KEY}
        cmd = [self.path]
        if source == "env":
            env[ENV_KEY] = key
        else:
            if env_key is not None:
                env[ENV_KEY] = env_key
            self.key_files += 1
            key_file = self.scratch / f"key-{self.key_files}.txt"
            key_file.write_bytes((key + "\n" if key_file_text is None else key_file_text).encode("utf-8"))
            cmd += ["--key-file", str(key_file)]
        cmd += [str(a) for a in args]
        try:
            return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=TIMEOUT_S)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(cmd, "timeout", b"", b"timed out")


def _describe(result):
    err = result.stderr.decode("utf-8", "replace").strip()
    return f"exit {result.returncode}, stderr {err!r}"


def layout_problems(key, cipher, data):
    """What is wrong with cipher as the tool's encryption of data under key, by the model's reading."""
    n = len(data)
    t = ref.layout_length(n)
    if len(cipher) != t:
        return [f"length {len(cipher)}, expected {t}"]
    raw = ref.Gost(key).decrypt_raw(cipher)
    problems = []
    if raw[3] & 0x80 or raw[7] & 0x80:
        problems.append(f"random words {raw[:8].hex()} not in 0..2147483647")
    (descriptor,) = struct.unpack_from("<i", raw, 8)
    if descriptor != n:
        problems.append(f"size descriptor {descriptor}, expected {n}")
    if raw[12:12 + n] != data:
        problems.append("data differs")
    if any(raw[12 + n:]):
        problems.append(f"padding {raw[12 + n:].hex()} not zero")
    return problems


def new_case(scratch, name):
    folder = scratch / name
    folder.mkdir()
    return folder


def check_file_tool_to_model(report, tool, scratch, label, key, data, source="env"):
    folder = new_case(scratch, f"t2m-{label}-{len(data)}")
    plain, cipher = folder / "plain.bin", folder / "cipher.bin"
    plain.write_bytes(data)
    result = tool.run(["encrypt-file", plain, cipher], key, source)
    if result.returncode != 0 or not cipher.exists():
        problems = [_describe(result)]
    else:
        problems = layout_problems(key, cipher.read_bytes(), data)
    report.check(f"tool encrypt-file -> model, key {label}, {len(data)} bytes ({source})", problems)


def check_file_model_to_tool(report, tool, scratch, label, key, data, source="env"):
    folder = new_case(scratch, f"m2t-{label}-{len(data)}")
    cipher, plain = folder / "cipher.bin", folder / "plain.bin"
    cipher.write_bytes(ref.Gost(key).encrypt_bytes(data))
    result = tool.run(["decrypt-file", cipher, plain], key, source)
    problems = []
    if result.returncode != 0:
        problems.append(_describe(result))
    elif not plain.exists():
        problems.append("no output file")
    elif plain.read_bytes() != data:
        problems.append(f"decrypted {len(plain.read_bytes())} bytes that differ from the original")
    report.check(f"model -> tool decrypt-file, key {label}, {len(data)} bytes ({source})", problems)


def _stdout_text(result):
    out = result.stdout.decode("utf-8")
    return out[:-1] if out.endswith("\n") else None


def check_string_tool_to_model(report, tool, label, key, text, source="env"):
    result = tool.run(["encrypt-string", text], key, source)
    problems = []
    hex_text = _stdout_text(result) if result.returncode == 0 else None
    if result.returncode != 0:
        problems.append(_describe(result))
    elif hex_text is None:
        problems.append("output does not end in a newline")
    else:
        expected_len = 2 * ref.layout_length(len(text.encode(ref.CODEC)))
        if len(hex_text) != expected_len or not UPPER_HEX.fullmatch(hex_text):
            problems.append(f"{hex_text!r} is not {expected_len} upper-case hex digits")
        else:
            try:
                back = ref.Gost(key).decrypt_string(hex_text)
                if back != text:
                    problems.append(f"model decrypts to {back!r}")
            except (ref.GostError, UnicodeDecodeError) as e:
                problems.append(f"model fails: {e}")
    report.check(f"tool encrypt-string -> model, key {label}, text {text[:20]!r} ({source})", problems)


def check_string_model_to_tool(report, tool, label, key, text, source="env", lower=False):
    hex_text = ref.Gost(key).encrypt_string(text)
    if lower:
        hex_text = hex_text.lower()
    result = tool.run(["decrypt-string", hex_text], key, source)
    problems = []
    if result.returncode != 0:
        problems.append(_describe(result))
    else:
        try:
            back = _stdout_text(result)
            if back != text:
                problems.append(f"tool prints {result.stdout!r}")
        except UnicodeDecodeError:
            problems.append(f"output is not UTF-8: {result.stdout!r}")
    case = " (lower-case hex)" if lower else ""
    report.check(f"model -> tool decrypt-string{case}, key {label}, text {text[:20]!r} ({source})", problems)


def refusal_problems(result, out_path=None, before=None, size_descriptor=True):
    """A refused decryption: exit 1, one line that names the error, and OUT absent or as it was."""
    problems = []
    err = result.stderr.decode("utf-8", "replace")
    if result.returncode != 1:
        problems.append(f"exit {result.returncode}, expected 1")
    if size_descriptor:
        for needle in (str(ref.SIZE_DESCRIPTOR_ERROR), ref.SIZE_DESCRIPTOR_TEXT):
            if needle not in err:
                problems.append(f"stderr {err.strip()!r} lacks {needle!r}")
    if len(err.strip().splitlines()) != 1:
        problems.append(f"stderr is not one line: {err!r}")
    if out_path is not None:
        if before is None and out_path.exists():
            problems.append("OUT was written")
        if before is not None and (not out_path.exists() or out_path.read_bytes() != before):
            problems.append("the existing OUT was changed")
    return problems


def check_wrong_key(report, tool, scratch):
    right, wrong = KEY_32_SYMBOLS, KEY_3
    data = b"terminal list \x00\x01\xfe\xff" * 5
    cipher_bytes = ref.Gost(right).encrypt_bytes(data, (12345, 67890))
    try:
        ref.Gost(wrong).decrypt_bytes(cipher_bytes)
        report.check("wrong-key fixture", ["the model accepts the wrong key; pick other random words"])
        return
    except ref.GostError:
        pass

    folder = new_case(scratch, "wrong-key-absent")
    cipher, out = folder / "cipher.bin", folder / "out.bin"
    cipher.write_bytes(cipher_bytes)
    result = tool.run(["decrypt-file", cipher, out], wrong)
    problems = refusal_problems(result, out)
    leftovers = sorted(p.name for p in folder.iterdir() if p.name != "cipher.bin")
    if leftovers:
        problems.append(f"files left behind: {leftovers}")
    report.check("wrong key: decrypt-file exits 1 and writes no OUT", problems)

    folder = new_case(scratch, "wrong-key-existing")
    cipher, out = folder / "cipher.bin", folder / "out.bin"
    cipher.write_bytes(cipher_bytes)
    old = b"precious older contents\n" * 100
    out.write_bytes(old)
    result = tool.run(["decrypt-file", cipher, out, "--overwrite"], wrong)
    problems = refusal_problems(result, out, before=old)
    leftovers = sorted(p.name for p in folder.iterdir() if p.name not in ("cipher.bin", "out.bin"))
    if leftovers:
        problems.append(f"files left behind: {leftovers}")
    report.check("wrong key: decrypt-file --overwrite leaves the existing OUT untouched", problems)

    result = tool.run(["decrypt-string", ref.bytes_to_hex(cipher_bytes)], wrong)
    problems = refusal_problems(result)
    if result.stdout:
        problems.append(f"stdout {result.stdout!r}")
    report.check("wrong key: decrypt-string exits 1 with the size-descriptor error", problems)

    # The tool's own ciphertext under a wrong key (the model first confirms that this key fails on it).
    folder = new_case(scratch, "wrong-key-tool")
    plain, cipher, out = folder / "plain.bin", folder / "cipher.bin", folder / "out.bin"
    plain.write_bytes(data)
    result = tool.run(["encrypt-file", plain, cipher], right)
    if result.returncode != 0:
        report.check("wrong key on the tool's own ciphertext", [_describe(result)])
        return
    try:
        ref.Gost(wrong).decrypt_bytes(cipher.read_bytes())
        return  # about 8 in 2^32: this ciphertext happens to pass the size check under the wrong key
    except ref.GostError:
        pass
    result = tool.run(["decrypt-file", cipher, out], wrong)
    report.check("wrong key on the tool's own ciphertext", refusal_problems(result, out))


def check_damaged_layouts(report, tool, scratch):
    """Inputs that are no encrypted layout: both sides must refuse them; the padding is never checked."""
    key = KEY_3_SYMBOLS
    g = ref.Gost(key)
    good = g.encrypt_bytes(b"0123456789", (7, 9))  # 24 bytes

    def crafted(n, total=16, fill=0):
        return g.encrypt_raw(struct.pack("<IIi", 1, 2, n) + bytes([fill]) * (total - 12))

    refused = [
        ("8 bytes", good[:8], False),
        ("15 bytes", good[:15], False),
        ("20 bytes", good[:20], True),
        ("27 bytes (3 extra)", good + b"abc", True),
        ("size descriptor -1", crafted(-1), True),
        ("size descriptor -2", crafted(-2), True),
        ("size descriptor -3", crafted(-3), True),
        ("size descriptor -2147483648", crafted(-2147483648), True),
        ("size descriptor 5 in 16 bytes", crafted(5), True),
        ("size descriptor 13 in 24 bytes", crafted(13, 24), True),
        ("size descriptor 4 in 24 bytes", crafted(4, 24), True),
    ]
    for i, (what, cipher_bytes, names_error) in enumerate(refused):
        folder = new_case(scratch, f"damaged-{i}")
        cipher, out = folder / "cipher.bin", folder / "out.bin"
        cipher.write_bytes(cipher_bytes)
        problems = refusal_problems(tool.run(["decrypt-file", cipher, out], key), out,
                                    size_descriptor=names_error)
        try:
            g.decrypt_bytes(cipher_bytes)
            problems.append("the model accepts it")
        except ref.GostError:
            pass
        report.check(f"refused layout: {what}", problems)

    folder = new_case(scratch, "damaged-empty")
    cipher, out = folder / "cipher.bin", folder / "out.bin"
    cipher.write_bytes(b"")
    report.check("refused layout: empty file (writes nothing)",
                 refusal_problems(tool.run(["decrypt-file", cipher, out], key), out, size_descriptor=False))

    accepted = [
        ("size descriptor 0 in 16 bytes, padding AA", crafted(0, 16, 0xAA), b""),
        ("size descriptor 4 in 16 bytes", crafted(4, 16, 0xAA), b"\xAA" * 4),
        ("size descriptor 5 in 24 bytes, padding AA", crafted(5, 24, 0xAA), b"\xAA" * 5),
        ("size descriptor 12 in 24 bytes", crafted(12, 24, 0x55), b"\x55" * 12),
    ]
    for i, (what, cipher_bytes, expected) in enumerate(accepted):
        folder = new_case(scratch, f"accepted-{i}")
        cipher, out = folder / "cipher.bin", folder / "out.bin"
        cipher.write_bytes(cipher_bytes)
        result = tool.run(["decrypt-file", cipher, out], key)
        problems = []
        if result.returncode != 0:
            problems.append(_describe(result))
        elif not out.exists() or out.read_bytes() != expected:
            problems.append(f"OUT holds {out.read_bytes().hex() if out.exists() else 'nothing'}")
        if g.decrypt_bytes(cipher_bytes) != expected:
            problems.append("the model disagrees")
        report.check(f"accepted layout: {what}", problems)


def check_key_sources(report, tool, scratch):
    """--key-file: its text without one trailing newline, and it wins over the environment."""
    data = bytes(range(256))
    cases = [
        ("no trailing newline", "k3y", "k3y"),
        ("one trailing newline", "k3y\n", "k3y"),
        ("two trailing newlines", "k3y\n\n", "k3y\n"),
        ("UTF-8 é and €", "€é!\n", "€é!"),
    ]
    for i, (what, file_text, key) in enumerate(cases):
        folder = new_case(scratch, f"key-file-{i}")
        plain, cipher = folder / "plain.bin", folder / "cipher.bin"
        plain.write_bytes(data)
        result = tool.run(["encrypt-file", plain, cipher], key, "file", key_file_text=file_text)
        if result.returncode != 0:
            problems = [_describe(result)]
        else:
            problems = layout_problems(key, cipher.read_bytes(), data)
        report.check(f"key file, {what}: the model decrypts with {key!r}", problems)

    folder = new_case(scratch, "key-file-wins")
    plain, cipher = folder / "plain.bin", folder / "cipher.bin"
    plain.write_bytes(data)
    result = tool.run(["encrypt-file", plain, cipher], KEY_32, "file", env_key=KEY_1)
    problems = [_describe(result)] if result.returncode else layout_problems(KEY_32, cipher.read_bytes(), data)
    report.check("key file wins over KORVANE_GOST_KEY", problems)

    # Only the first 32 characters of a key take part.
    folder = new_case(scratch, "key-40-prefix")
    plain, cipher = folder / "plain.bin", folder / "cipher.bin"
    plain.write_bytes(data)
    result = tool.run(["encrypt-file", plain, cipher], KEY_40)
    problems = [_describe(result)] if result.returncode else layout_problems(KEY_40[:32], cipher.read_bytes(),
                                                                           data)
    report.check("a 40-character key acts as its first 32 characters", problems)


def check_randomness_and_files(report, tool, scratch):
    folder = new_case(scratch, "twice")
    plain, one, two = folder / "plain.bin", folder / "one.bin", folder / "two.bin"
    plain.write_bytes(b"same bytes")
    r1 = tool.run(["encrypt-file", plain, one], KEY_1)
    r2 = tool.run(["encrypt-file", plain, two], KEY_1)
    problems = []
    if r1.returncode or r2.returncode:
        problems.append(_describe(r1 if r1.returncode else r2))
    elif one.read_bytes() == two.read_bytes():
        problems.append("two encryptions are identical")
    report.check("the same file encrypted twice gives different files", problems)

    h1 = tool.run(["encrypt-string", "Hello"], KEY_1).stdout
    h2 = tool.run(["encrypt-string", "Hello"], KEY_1).stdout
    report.check("the same string encrypted twice gives different hex", [] if h1 and h1 != h2 else [f"{h1!r}"])

    folder = new_case(scratch, "exists")
    plain, out = folder / "plain.bin", folder / "out.bin"
    plain.write_bytes(b"abc")
    old = b"x" * 1000
    out.write_bytes(old)
    result = tool.run(["encrypt-file", plain, out], KEY_1)
    problems = []
    if result.returncode != 1:
        problems.append(f"exit {result.returncode}, expected 1")
    if out.read_bytes() != old:
        problems.append("OUT changed")
    report.check("encrypt-file onto an existing OUT without --overwrite is refused", problems)

    result = tool.run(["encrypt-file", plain, out, "--overwrite"], KEY_1)
    problems = [_describe(result)] if result.returncode else layout_problems(KEY_1, out.read_bytes(), b"abc")
    report.check("encrypt-file --overwrite replaces a longer OUT by exactly the layout", problems)

    missing = folder / "missing.bin"
    target = folder / "never.bin"
    result = tool.run(["decrypt-file", missing, target], KEY_1)
    problems = [] if result.returncode == 1 and not target.exists() else [_describe(result)]
    report.check("decrypt-file of a missing IN exits 1 and writes nothing", problems)

    for what, args, key in [("a text", ["encrypt-string", "Ω"], KEY_1),
                            ("a key", ["encrypt-string", "abc"], "Ωmega")]:
        result = tool.run(args, key)
        problems = []
        if result.returncode == 0 or result.stdout or not result.stderr.strip():
            problems.append(f"{_describe(result)}, stdout {result.stdout!r}")
        report.check(f"{what} with a character Windows-1252 lacks is refused", problems)


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    tool_path = Path(argv[1]).resolve()
    if not tool_path.is_file():
        print(f"no such program: {tool_path}", file=sys.stderr)
        return 2
    report = Report()
    rng = random.Random(3000)
    with tempfile.TemporaryDirectory(prefix="korvane-interop-") as tmp:
        scratch = Path(tmp)
        tool = Tool(tool_path, scratch)

        for n in range(101):
            data = rng.randbytes(n)
            check_file_tool_to_model(report, tool, scratch, "40", FULL_SWEEP_KEY, data)
            check_file_model_to_tool(report, tool, scratch, "40", FULL_SWEEP_KEY, data)

        other_keys = [("1", KEY_1, "env"), ("1é", KEY_1_ACCENT, "env"), ("3", KEY_3, "env"),
                      ("3€é", KEY_3_SYMBOLS, "file"), ("32", KEY_32, "env"), ("32€é", KEY_32_SYMBOLS, "file")]
        for label, key, source in other_keys:
            for n in SOME_LENGTHS:
                data = rng.randbytes(n)
                check_file_tool_to_model(report, tool, scratch, label, key, data, source)
                check_file_model_to_tool(report, tool, scratch, label, key, data, source)

        big = rng.randbytes(MIB)
        check_file_tool_to_model(report, tool, scratch, "32€é", KEY_32_SYMBOLS, big)
        check_file_model_to_tool(report, tool, scratch, "32€é", KEY_32_SYMBOLS, big, "file")

        for label, key, source in [("40", KEY_40, "env")] + other_keys:
            texts = TEXTS if key in (KEY_40, KEY_3_SYMBOLS) else TEXTS[:3] + TEXTS[5:9]
            for text in texts:
                check_string_tool_to_model(report, tool, label, key, text, source)
                check_string_model_to_tool(report, tool, label, key, text, source)
        check_string_model_to_tool(report, tool, "1é", KEY_1_ACCENT, TEXTS[8], lower=True)

        check_wrong_key(report, tool, scratch)
        check_damaged_layouts(report, tool, scratch)
        check_key_sources(report, tool, scratch)
        check_randomness_and_files(report, tool, scratch)

    print(f"{report.passed} passed, {report.failed} failed")
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
