"""A vendor signs the finished setup with Authenticode: the signature lies
after the package, and the stub, korvan-pack and the agent copy must all
still work with it."""
import hashlib
import re
import struct
import subprocess

import pytest

from conftest import pack
from test_extract import build, make_files, read_report, sha, working_folders

pytestmark = pytest.mark.skipif(subprocess.run(["which", "osslsigncode"], stdout=subprocess.DEVNULL)
                                .returncode != 0, reason="osslsigncode is not installed")


def certificate_entry(data):
    """The PE header's certificate-table entry (offset, size)."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    return struct.unpack_from("<II", data, directories + 4 * 8)


def sign(tmp_path, package):
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Korvan Test Vendor"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    signed = package.with_name("signed-" + package.name)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Korvan test setup",
                    "-in", package, "-out", signed], check=True, stdout=subprocess.DEVNULL)
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, signed], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
    assert verified.returncode == 0 and "Signature verification: ok" in verified.stdout, verified.stdout
    return signed


def expected_agent(signed):
    """The agent copy as it must be: the signed file up to the end of its
    sections, no package end at 252, no certificate entry, the agent byte
    set in its header."""
    data = bytearray(signed.read_bytes())
    end = struct.unpack_from("<I", data, 252)[0]
    header = bytearray(data[end - 74:end])
    pos = struct.unpack_from("<I", header, 4)[0]
    for _ in range(2):
        pos += 4 + struct.unpack_from("<I", data, pos)[0]
    agent = bytearray(data[:pos])
    agent[252:256] = bytes(4)
    h = struct.unpack_from("<I", agent, 0x3C)[0]
    magic = struct.unpack_from("<H", agent, h + 24)[0]
    entry = h + 24 + (96 if magic == 0x10B else 112) + 32
    agent[entry:entry + 8] = bytes(8)
    header[69] = 1
    return bytes(agent + header)


def test_signed_package_checks_extracts_and_writes_an_unsigned_agent_that_runs(wine, tmp_path):
    files = make_files(tmp_path / "in", 4)
    package, report = build(tmp_path, files, extra=["--creates-agent", "--agent-name", "ProdAgent.exe",
                                                    "--agent-token", "tok"])
    signed = sign(tmp_path, package)
    data = signed.read_bytes()
    offset, size = certificate_entry(data)
    # The signature follows the package, whose end the value at 252 still names.
    assert struct.unpack_from("<I", data, 252)[0] == package.stat().st_size
    assert offset >= package.stat().st_size and size > 0 and offset + size == len(data)

    assert "sound" in pack("verify", signed).stdout
    inspected = pack("inspect", signed).stdout
    assert re.search(r"checksum .* computed: ok", inspected), inspected
    assert re.search(r"^entries\s+5$", inspected, re.M), inspected

    proc = wine.run(signed, "/hide", timeout=180)
    assert proc.returncode == 0
    extracted = {f["name"]: f for f in read_report(report)["files"]}
    for f in files:
        assert extracted[f.name]["sha256"] == sha(f), f.name
    assert working_folders(wine) == []

    # The agent copy carries the signed stub's headers without its signature.
    agent = expected_agent(signed)
    assert certificate_entry(agent) == (0, 0)
    assert extracted["ProdAgent.exe"]["sha256"] == hashlib.sha256(agent).hexdigest()
    copy = tmp_path / "ProdAgent.exe"
    copy.write_bytes(agent)
    unsigned = subprocess.run(["osslsigncode", "verify", copy], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
    assert unsigned.returncode != 0
    # The agent program starts its copy, which shares this output; /STOP=0
    # ends the copy at its first tick so that the run comes to an end.
    run = wine.run(copy, "/STOP=0", timeout=120)
    assert re.search(r"^\d+ ThisIs_AutoUpdateProg=TRUE\r?$", run.out, re.M), run.out
