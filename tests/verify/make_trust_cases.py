#!/usr/bin/env python3
"""Mints the table of trust cases that both builds must decide alike.

    make_trust_cases.py <out-dir>

Writes DER certificates and CRLs, manifest bodies and signatures into <out-dir>, and
<out-dir>/cases.txt with one case a line:

    chain <name> <expected> <root> <crl> <signer> [<issuer>...]
    signature <name> <expected> <signer> <body> <signature>

<expected> is what the trust check must decide: ok, badcert (the chain or the CRL is refused),
badsig (no signature verifies) or crypt (a certificate or CRL does not decode). Each row is one
way in which two certificate libraries were seen to disagree, or a plain case beside it. The
DER is written here byte by byte, so that every encoding can be got wrong on purpose; openssl
makes the keys and the signatures. Times are relative to the moment of minting.
"""
import datetime
import os
import subprocess
import sys

OUT = sys.argv[1]
NOW = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
DAY = datetime.timedelta(days=1)


# --- DER, written by hand -------------------------------------------------------------------
def length(n, width=None):
    if width is None and n < 0x80:
        return bytes([n])
    body = n.to_bytes(width or (n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content, width=None):
    return bytes([tag]) + length(len(content), width) + content


def seq(*parts):
    return tlv(0x30, b"".join(parts))


def integer(value, pad=0):
    body = value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True)
    return tlv(0x02, b"\0" * pad + body)


def oid(dotted, pad=False):
    parts = [int(p) for p in dotted.split(".")]
    out = bytearray([parts[0] * 40 + parts[1]])
    for part in parts[2:]:
        groups = [part & 0x7F]
        part >>= 7
        while part:
            groups.append(0x80 | (part & 0x7F))
            part >>= 7
        if pad:
            groups.append(0x80)
            pad = False
        out += bytes(reversed(groups))
    return tlv(0x06, bytes(out))


def bits(data, unused=0):
    return tlv(0x03, bytes([unused]) + data)


def utc(moment):
    return tlv(0x17, moment.strftime("%y%m%d%H%M%SZ").encode())


NULL = b"\x05\x00"
O, CN = "2.5.4.10", "2.5.4.3"
RSA = "1.2.840.113549.1.1.1"
ALGORITHMS = {"md5": "1.2.840.113549.1.1.4", "sha1": "1.2.840.113549.1.1.5",
              "sha256": "1.2.840.113549.1.1.11", "sha224": "1.2.840.113549.1.1.14"}


def name(common, organization="Orbec Trust Cases", kind=0x0C):
    return seq(tlv(0x31, seq(oid(O), tlv(kind, organization.encode()))),
               tlv(0x31, seq(oid(CN), tlv(kind, common.encode()))))


def ext(dotted, value, critical=False):
    return seq(oid(dotted), b"\x01\x01\xff" if critical else b"", tlv(0x04, value))


def basic(ca=True, path=None, critical=True):
    body = (b"\x01\x01\xff" if ca else b"") + (b"" if path is None else integer(path))
    return ext("2.5.29.19", seq(body), critical)


def usage(value, unused, critical=True):
    return ext("2.5.29.15", bits(value, unused), critical)


CA_USAGE = usage(b"\x06", 1)          # keyCertSign, cRLSign
SIGNER_USAGE = usage(b"\x80", 7)      # digitalSignature
CODE_SIGNING = ext("2.5.29.37", seq(oid("1.3.6.1.5.5.7.3.3")))


# --- keys and signatures, by openssl --------------------------------------------------------
def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout


class Key:
    def __init__(self, label, *options):
        self.path = os.path.join(OUT, label + ".key")
        if not os.path.exists(self.path):
            openssl("genpkey", *options, "-out", self.path)
        self.spki = openssl("pkey", "-in", self.path, "-pubout", "-outform", "DER")

    def sign_raw(self, data):
        """An Ed25519 signature, which openssl makes only of a whole file."""
        path = self.path + ".input"
        with open(path, "wb") as out:
            out.write(data)
        signature = openssl("pkeyutl", "-sign", "-rawin", "-inkey", self.path, "-in", path)
        os.remove(path)
        return signature

    def sign(self, data, digest="sha256", *options):
        return openssl("dgst", "-" + digest, "-sign", self.path, *options, "-binary", data=data)


def algorithm(digest, params=NULL):
    return seq(oid(ALGORITHMS[digest]), params)


class Ca:
    def __init__(self, subject, key):
        self.subject, self.key = subject, key


def certificate(subject, key, issuer, extensions, serial=None, digest="sha256",
                not_before=None, not_after=None, outer=None, signature=None, width=None,
                issuer_name=None, version=2, alg=None):
    """DER of a certificate; the keyword arguments put a field or the encoding wrong."""
    alg = alg or algorithm(digest)
    fields = [tlv(0xA0, integer(version)) if version else b"",
              serial if serial is not None else integer(int.from_bytes(os.urandom(8), "big")),
              alg, issuer_name or issuer.subject,
              seq(not_before or utc(NOW - DAY), not_after or utc(NOW + 3650 * DAY)),
              subject, key.spki,
              tlv(0xA3, seq(*extensions)) if extensions else b""]
    tbs = seq(*fields)
    value = signature(tbs) if signature else issuer.key.sign(tbs, digest)
    return tlv(0x30, tbs + (outer or alg) + bits(value), width)


def crl(issuer, revoked=(), next_update=None, entry_extensions=b"", serial_pad=0,
        issuer_name=None):
    entries = b"".join(seq(integer(s, serial_pad), utc(NOW - DAY), entry_extensions)
                       for s in revoked)
    tbs = seq(integer(1), algorithm("sha256"), issuer_name or issuer.subject, utc(NOW - DAY),
              next_update if next_update is not None else utc(NOW + 3650 * DAY),
              seq(entries) if revoked else b"")
    return seq(tbs, algorithm("sha256"), bits(issuer.key.sign(tbs)))


# --- the cases ------------------------------------------------------------------------------
def main():
    os.makedirs(OUT, exist_ok=True)
    keys = [Key("rsa%d" % i, "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048")
            for i in range(3)]
    small = Key("rsa512", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:512")
    pss = Key("pss", "-algorithm", "RSA-PSS", "-pkeyopt", "rsa_keygen_bits:2048")
    ed = Key("ed25519", "-algorithm", "ED25519")
    big_exponent = Key("rsa-e33", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
                       "-pkeyopt", "rsa_keygen_pubexp:4294967311")

    root = Ca(name("Trust Root"), keys[0])
    root_der = certificate(root.subject, root.key, root, [basic(), CA_USAGE], serial=integer(1))
    inter = Ca(name("Trust Intermediate"), keys[1])
    files = {"root": root_der, "crl": crl(root),
             "inter": certificate(inter.subject, inter.key, root, [basic(), CA_USAGE]),
             "signer": certificate(name("Trust Signer"), keys[2], inter,
                                   [basic(False), SIGNER_USAGE, CODE_SIGNING], serial=integer(5))}
    rows = []

    def chain(label, expected, links, crl_file="crl"):
        rows.append("chain %s %s root.der %s.der %s" % (
            label, expected, crl_file, " ".join(link + ".der" for link in links)))

    def signer(label, expected, *, under="inter", **options):
        extensions = options.pop("extensions", [basic(False), SIGNER_USAGE, CODE_SIGNING])
        issuer = {"inter": inter, "root": root}[under]
        files[label] = certificate(options.pop("subject", name("Trust Signer")),
                                   options.pop("key", keys[2]), issuer, extensions, **options)
        chain(label, expected, [label] + (["inter"] if under == "inter" else []))

    def via(label, expected, inter_options, inter_key=keys[1]):
        """A chain whose intermediate is made with inter_options, and a plain signer under it."""
        extensions = inter_options.pop("extensions", [basic(), CA_USAGE])
        files[label + "-ca"] = certificate(inter_options.pop("subject", inter.subject), inter_key,
                                           root, extensions, **inter_options)
        files[label] = certificate(name("Trust Signer"), keys[2], Ca(inter.subject, inter_key),
                                   [basic(False), SIGNER_USAGE, CODE_SIGNING])
        chain(label, expected, [label, label + "-ca"])

    chain("plain", "ok", ["signer", "inter"])
    # Names are compared as their DER bytes.
    signer("issuer-printable-string", "badcert",
           issuer_name=name("Trust Intermediate", kind=0x13))
    signer("issuer-other-case", "badcert", issuer_name=name("TRUST Intermediate"))
    pathlen0 = [basic(path=0), CA_USAGE]
    files["reencoded-top"] = certificate(inter.subject, inter.key, root, pathlen0)
    reencoded = Ca(name("Trust Intermediate", kind=0x13), keys[0])
    files["reencoded-ca"] = certificate(reencoded.subject, reencoded.key, inter,
                                        [basic(), CA_USAGE])
    files["reencoded"] = certificate(name("Trust Signer"), keys[2], reencoded,
                                     [basic(False), SIGNER_USAGE, CODE_SIGNING])
    chain("self-issued-by-reencoding", "badcert", ["reencoded", "reencoded-ca", "reencoded-top"])
    files["crl-issuer-reencoded"] = crl(root, issuer_name=name("Trust Root", kind=0x13))
    chain("crl-issuer-reencoded", "badcert", ["signer", "inter"], "crl-issuer-reencoded")
    # Encodings.
    via("pathlen-negative", "badcert", {"extensions": [basic(path=-1), CA_USAGE]})
    via("pathlen-padded", "badcert",
        {"extensions": [ext("2.5.29.19", seq(b"\x01\x01\xff" + tlv(0x02, b"\0\x01")), True),
                        CA_USAGE]})
    via("pathlen-2-31", "badcert", {"extensions": [basic(path=2**31), CA_USAGE]})
    via("pathlen-2-31-less-1", "ok", {"extensions": [basic(path=2**31 - 1), CA_USAGE]})
    signer("code-signing-padded", "badcert",
           extensions=[basic(False), SIGNER_USAGE,
                       ext("2.5.29.37", seq(oid("1.3.6.1.5.5.7.3.3", pad=True)))])
    signer("serial-padded", "crypt", serial=integer(7, pad=1))
    via("pss-key", "badcert", {}, inter_key=pss)
    signer("rfc3779-malformed", "badcert",
           extensions=[basic(False), SIGNER_USAGE, CODE_SIGNING,
                       ext("1.3.6.1.5.5.7.1.7", b"\x30\x03\x04\x01")])
    signer("proxy-info-malformed", "badcert",
           extensions=[basic(False), SIGNER_USAGE, CODE_SIGNING,
                       ext("1.3.6.1.5.5.7.1.14", b"\x30\x05\x02\x01")])
    signer("generalized-time-without-z", "crypt",
           not_after=tlv(0x18, (NOW + 3650 * DAY).strftime("%Y%m%d%H%M%S").encode()))
    signer("generalized-time-lower-z", "crypt",
           not_after=tlv(0x18, (NOW + 3650 * DAY).strftime("%Y%m%d%H%M%Sz").encode()))
    signer("february-29-2031", "crypt", not_after=tlv(0x18, b"20310229000000Z"))
    signer("fractional-seconds", "crypt",
           not_after=tlv(0x18, (NOW + 3650 * DAY).strftime("%Y%m%d%H%M%S.5Z").encode()))
    signer("trailing-bytes-in-extension", "badcert",
           extensions=[basic(False), SIGNER_USAGE,
                       ext("2.5.29.37", seq(oid("1.3.6.1.5.5.7.3.3")) + b"\x05\x00")])
    signer("duplicate-key-identifier", "badcert",
           extensions=[basic(False), SIGNER_USAGE, CODE_SIGNING,
                       ext("2.5.29.14", tlv(0x04, b"\1" * 20)),
                       ext("2.5.29.14", tlv(0x04, b"\2" * 20))])
    signer("issuer-alt-name-malformed", "badcert",
           extensions=[basic(False), SIGNER_USAGE, CODE_SIGNING,
                       ext("2.5.29.18", seq(tlv(0x30, b"")))])
    signer("outer-length-5-octets", "crypt", width=5)
    signer("outer-length-8-octets", "crypt", width=8)
    signer("outer-algorithm-parameters", "crypt",
           outer=seq(oid(ALGORITHMS["sha256"]), tlv(0x04, b"x")))
    # CRLs: a listed serial revokes, whatever its entry says.
    remove_from_crl = seq(seq(oid("2.5.29.21"), tlv(0x04, tlv(0x0A, b"\x08"))))
    files["crl-remove-from-crl"] = crl(root, revoked=[2], entry_extensions=remove_from_crl)
    files["crl-other-issuer"] = crl(root, revoked=[2], entry_extensions=seq(
        seq(oid("2.5.29.29"), b"\x01\x01\xff", tlv(0x04, seq(tlv(0xA4, name("Other CA")))))))
    files["crl-serial-padded"] = crl(root, revoked=[2], serial_pad=1)
    files["crl-next-update-1601"] = crl(root, next_update=tlv(0x18, b"16010101000000Z"))
    files["inter2"] = certificate(inter.subject, inter.key, root, [basic(), CA_USAGE],
                                  serial=integer(2))
    for label, expected in [("crl-remove-from-crl", "badcert"), ("crl-other-issuer", "badcert"),
                            ("crl-serial-padded", "crypt"), ("crl-next-update-1601", "badcert")]:
        chain(label, expected, ["signer", "inter2"], label)
    # What both libraries can verify, and what they cannot.
    signer("sha224-link", "crypt", digest="sha224")
    signer("rsa-pss-link", "crypt", alg=seq(oid("1.2.840.113549.1.1.10"), seq()),
           signature=lambda tbs: keys[1].sign(tbs, "sha256", "-sigopt", "rsa_padding_mode:pss"))
    files["ed25519-ca"] = certificate(inter.subject, ed, root, [basic(), CA_USAGE])
    files["ed25519-link"] = certificate(
        name("Trust Signer"), keys[2], inter, [basic(False), SIGNER_USAGE, CODE_SIGNING],
        alg=seq(oid("1.3.101.112")),
        signature=lambda tbs: ed.sign_raw(tbs))
    chain("ed25519-link", "crypt", ["ed25519-link", "ed25519-ca"])
    via("exponent-over-32-bits", "badcert", {}, inter_key=big_exponent)
    signer("other-name", "ok",
           extensions=[basic(False), SIGNER_USAGE, CODE_SIGNING,
                       ext("2.5.29.17", seq(tlv(0xA0, oid("1.2.3.4") + tlv(0xA0, tlv(0x0C, b"x")))))])
    signer("md5-link", "ok", digest="md5")
    signer("small-key", "ok", key=small)
    # Manifest signatures: RSASSA-PKCS1-v1_5 of the SHA-1 digest, with its DigestInfo.
    body = b"./file.tar 0123456789abcdef0123456789abcdef01234567\n"
    files["body"] = body
    files["signature-good"] = keys[2].sign(body, "sha1")
    digest = openssl("dgst", "-sha1", "-binary", data=body)
    files["signature-bare-digest"] = openssl("pkeyutl", "-sign", "-inkey", keys[2].path,
                                             "-pkeyopt", "rsa_padding_mode:pkcs1", data=digest)
    rows.append("signature signature-good ok signer.der body.der signature-good.der")
    rows.append("signature signature-bare-digest badsig signer.der body.der "
                "signature-bare-digest.der")

    for label, data in files.items():
        with open(os.path.join(OUT, label + ".der"), "wb") as out:
            out.write(data)
    with open(os.path.join(OUT, "cases.txt"), "w") as out:
        out.write("\n".join(rows) + "\n")


main()
