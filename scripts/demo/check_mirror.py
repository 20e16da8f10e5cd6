#!/usr/bin/env python3
"""Checks the demo mirror content that build-mirror.sh wrote.

    check_mirror.py <pki-dir> <out-dir> [version]

Checks, and reports every problem found (exit 1) or prints "mirror OK" (exit 0):
  - both tar archives use only what the simplest tar reader accepts: valid header checksums,
    type '0' or '5' members, an empty ustar name prefix, relative names without "..",
    each member's parent directory listed before it, sizes and times within 32 bits;
  - the distribution holds the files the image program and the boot loader need;
  - both manifests have the exact layout of a signed manifest, name their archive as
    ".\\<name>" with its SHA-1, carry a signature over exactly the body that the signer
    certificate verifies, and a signer certificate that chains through the intermediate to
    the root of <pki-dir>;
  - vdl.zip's first "virusDataVersion.txt" member starts with the version line, and the
    identity zip for that version exists and is a sound zip.
Uses only the standard library and the openssl command.
"""

import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

DIST = "tools/orbe/1.1"
PROD = "kavero/products/full/OEM/Lumo/current/unix"
DATA = "kavero/products/full/OEM/Lumo/data"

DIST_REQUIRED = [
    "isolinux/isolinux.cfg",
    "isolinux/ldlinux.c32",
    "slax/boot/isolinux.bin",
    "slax/boot/isolinux.boot",
    "slax/boot/vmlinuz",
    "slax/boot/initrd.gz",
    "slax/boot/efiboot.img",
    "boot/grub/grub.cfg",
    "slax/tools/WIN/mkisofs.exe",
]

SIG_BEGIN = b"-----BEGIN SIGNATURE-----\n"
SIG_END = b"-----END SIGNATURE-----\n"
CERT_BEGIN = b"-----BEGIN CERTIFICATE-----\n"
CERT_END = b"-----END CERTIFICATE-----\n"
BASE64_LINE = re.compile(rb"[A-Za-z0-9+/]{1,79}={0,2}\n")
COMMENT_LINE = re.compile(rb"#[^\n]*\n")
ENTRY_LINE = re.compile(rb'"([ !#-)+-9;=@-{}~]*)" ([0-9]+) ([0-9a-f]*)\n')


def octal(field):
    """Value of a NUL/space-terminated octal header field, or None when malformed."""
    text = field.split(b"\0", 1)[0].rstrip(b" ")
    if not text or not re.fullmatch(rb"[0-7]+", text):
        return None
    return int(text, 8)


def check_tar(path, required=()):
    """Returns (problems, member names) of a tar archive read as the simplest reader does."""
    problems, names, dirs = [], [], set()
    with open(path, "rb") as f:
        data = f.read()
    pos = 0
    while pos + 512 <= len(data):
        header = data[pos : pos + 512]
        if header == bytes(512):
            break
        where = f"{os.path.basename(path)} @{pos}"
        stored = octal(header[148:156])
        actual = sum(header[:500]) - sum(header[148:156]) + 8 * 32
        if stored != actual:
            problems.append(f"{where}: header checksum {stored} != {actual}")
        raw_name = header[:100].split(b"\0", 1)[0]
        name = raw_name.decode("ascii", "replace")
        kind = header[156:157]
        size = octal(header[124:136])
        mtime = octal(header[136:148])
        if header[257:263] != b"ustar\0":
            problems.append(f"{where}: {name}: not a ustar header")
        if any(header[345:500]):
            problems.append(f"{where}: {name}: name prefix field is not empty")
        if kind not in (b"0", b"5"):
            problems.append(f"{where}: {name}: member type {kind!r}")
        if size is None or size >= 2**31 or mtime is None or mtime >= 2**32:
            problems.append(f"{where}: {name}: size or time field out of range")
            size = size or 0
        parts = name.rstrip("/").split("/")
        if not name or name.startswith("/") or ".." in parts or "" in parts:
            problems.append(f"{where}: unsafe or empty name {name!r}")
        parent = "/".join(parts[:-1])
        if parent and parent not in dirs:
            problems.append(f"{where}: {name}: listed before its directory {parent}")
        if kind == b"5":
            dirs.add("/".join(parts))
            if size:
                problems.append(f"{where}: {name}: directory with data")
        names.append("/".join(parts))
        pos += 512 + (size + 511) // 512 * 512
    if pos > len(data):
        problems.append(f"{os.path.basename(path)}: truncated")
    for name in required:
        if name not in names:
            problems.append(f"{os.path.basename(path)}: {name} is missing")
    return problems, names


def take_block(data, pos, begin, end):
    """Reads one PEM-like block at pos; returns (Base64 text, next pos) or raises ValueError."""
    if not data.startswith(begin, pos):
        raise ValueError(f"expected {begin!r} at byte {pos}")
    pos += len(begin)
    start = pos
    while True:
        m = BASE64_LINE.match(data, pos)
        if not m:
            break
        pos = m.end()
        if m.group(0).rstrip(b"\n").endswith(b"="):
            break
    if pos == start:
        raise ValueError(f"empty block at byte {start}")
    if not data.startswith(end, pos):
        raise ValueError(f"expected {end!r} at byte {pos}")
    return data[start:pos], pos + len(end)


def openssl(*args, stdin=None):
    return subprocess.run(
        ["openssl", *args], input=stdin, capture_output=True, check=False
    )


def check_manifest(manifest_path, archive_path, pki):
    """Returns the problems of one signed manifest for its archive."""
    label = os.path.basename(manifest_path)
    with open(manifest_path, "rb") as f:
        data = f.read()
    marker = b"\n" + SIG_BEGIN
    cut = data.find(marker)
    if cut < 0:
        return [f"{label}: no signature block after the body"]
    body = data[: cut + 1]
    problems = []

    entries, pos = [], 0
    while pos < len(body):
        m = COMMENT_LINE.match(body, pos) or ENTRY_LINE.match(body, pos)
        if not m:
            problems.append(f"{label}: malformed body line at byte {pos}")
            break
        if m.re is ENTRY_LINE:
            entries.append((m.group(1), m.group(3)))
        pos = m.end()
    with open(archive_path, "rb") as f:
        digest = hashlib.sha1(f.read()).hexdigest().encode()
    wanted = b".\\" + os.path.basename(archive_path).encode()
    if (wanted, digest) not in entries:
        problems.append(f"{label}: no entry {wanted!r} with checksum {digest.decode()}")

    try:
        sigs, certs, pos = [], [], cut + 1
        while data.startswith(SIG_BEGIN, pos):
            text, pos = take_block(data, pos, SIG_BEGIN, SIG_END)
            sigs.append(text)
        while data.startswith(CERT_BEGIN, pos):
            text, pos = take_block(data, pos, CERT_BEGIN, CERT_END)
            certs.append(CERT_BEGIN + text + CERT_END)
        if pos != len(data):
            raise ValueError(f"{len(data) - pos} bytes after the last block")
        if len(certs) < 2:
            raise ValueError("signer and intermediate certificates expected")
    except ValueError as e:
        return problems + [f"{label}: {e}"]

    with tempfile.TemporaryDirectory() as tmp:
        files = {}
        for key, content in [("body", body), ("signer", certs[0]),
                             ("chain", b"".join(certs[1:]))]:
            files[key] = os.path.join(tmp, key)
            with open(files[key], "wb") as f:
                f.write(content)
        pub = openssl("x509", "-in", files["signer"], "-pubkey", "-noout")
        with open(os.path.join(tmp, "pub"), "wb") as f:
            f.write(pub.stdout)
        for i, text in enumerate(sigs):
            sig = openssl("base64", "-d", stdin=text).stdout
            with open(os.path.join(tmp, "sig"), "wb") as f:
                f.write(sig)
            verify = openssl("dgst", "-sha1", "-verify", os.path.join(tmp, "pub"),
                             "-signature", os.path.join(tmp, "sig"), files["body"])
            if verify.returncode != 0:
                problems.append(f"{label}: signature {i + 1} does not verify over the body")
        chain = openssl("verify", "-CAfile", os.path.join(pki, "root.crt"),
                        "-untrusted", files["chain"], files["signer"])
        if chain.returncode != 0:
            problems.append(f"{label}: signer does not chain to the root: "
                            + chain.stdout.decode(errors="replace").strip())
    return problems


def check_zips(out, version):
    problems = []
    vdl = os.path.join(out, DATA, "vdl.zip")
    try:
        with zipfile.ZipFile(vdl) as z:
            members = [i for i in z.infolist()
                       if i.filename.lower() == "virusdataversion.txt"]
            if not members:
                problems.append("vdl.zip: no virusDataVersion.txt")
            else:
                text = z.read(members[0])  # checks the CRC
                if text.split(b"\n", 1)[0].rstrip(b"\r") != version.encode():
                    problems.append(f"vdl.zip: version line {text[:40]!r}, not {version!r}")
            if len(z.infolist()) < 2:
                problems.append("vdl.zip: expected a member besides the version file")
    except (OSError, zipfile.BadZipFile) as e:
        problems.append(f"vdl.zip: {e}")
    ide = os.path.join(out, DATA, f"ide_{version}.zip")
    try:
        with zipfile.ZipFile(ide) as z:
            if z.testzip() is not None or not z.infolist():
                problems.append(f"{os.path.basename(ide)}: bad or empty")
    except (OSError, zipfile.BadZipFile) as e:
        problems.append(f"{os.path.basename(ide)}: {e}")
    return problems


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    pki, out = argv[1], argv[2]
    version = argv[3] if len(argv) == 4 else "2026.12.07"
    dist_tar = os.path.join(out, DIST, "KaveroLive-SLAX.tar")
    prod_tar = os.path.join(out, PROD, "linux.intel.libc6.glibc.2.2.tar")
    problems = []
    try:
        problems += check_tar(dist_tar, DIST_REQUIRED)[0]
        problems += check_tar(prod_tar)[0]
        problems += check_manifest(os.path.join(out, DIST, "KaveroLive-SLAX_manifest.dat"),
                                   dist_tar, pki)
        problems += check_manifest(
            os.path.join(out, PROD, "linux.intel.libc6.glibc.2.2.manifest"), prod_tar, pki)
    except OSError as e:
        problems.append(str(e))
    problems += check_zips(out, version)
    for p in problems:
        print(f"check_mirror: {p}", file=sys.stderr)
    if problems:
        return 1
    print("mirror OK")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
