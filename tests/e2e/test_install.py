"""korvan-pack installed as a build server has it: `cmake --install` of the
host tree into a prefix (what `make install PREFIX=...` runs) and the Debian
package `make package` makes (CPack), installed with dpkg into a scratch
root. Without --stub the installed tool takes the installed stub of --arch.
Both reuse the built trees; nothing is compiled here."""
import shutil
import subprocess
from pathlib import Path

from conftest import ARTIFACTS, STUB, STUB32, TOP

HOST = ARTIFACTS / "host"
PACKAGE_END_AT = 252  # the builder writes the package end into the stub's copy there


def run(*args, cwd=None, check=True):
    proc = subprocess.run([str(a) for a in args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True)
    if check and proc.returncode != 0:
        raise AssertionError(f"{args} exited {proc.returncode}:\n{proc.stdout}\n{proc.stderr}")
    return proc


def inputs(folder):
    folder.mkdir()
    (folder / "Setup.exe").write_bytes(b"MZ setup")
    (folder / "readme.txt").write_text("read me\n" * 100)
    return folder


def check_prefix(prefix, work):
    """The installed files, and packages built there with no --stub."""
    korvan_pack = prefix / "bin" / "korvan-pack"
    stubs = {"i686": prefix / "share" / "korvan" / "stub-i686.exe",
             "x86_64": prefix / "share" / "korvan" / "stub-x86_64.exe"}
    assert stubs["i686"].read_bytes() == STUB32.read_bytes()
    assert stubs["x86_64"].read_bytes() == STUB.read_bytes()
    assert (prefix / "share" / "doc" / "korvan" / "README.md").read_bytes() == (TOP / "README.md").read_bytes()
    for arch, extra in (("i686", []), ("i686", ["--arch", "i686"]), ("x86_64", ["--arch=x86_64"])):
        out = work / f"setup-{arch}-{len(extra)}.exe"
        run(korvan_pack, "build", *extra, "--out", out, "--dir", work, "--setup", "Setup.exe", "readme.txt")
        stub = stubs[arch].read_bytes()
        built = out.read_bytes()
        assert len(built) > len(stub)
        # The stub's own bytes at the front, but for the package end.
        assert built[:PACKAGE_END_AT] == stub[:PACKAGE_END_AT], arch
        assert built[PACKAGE_END_AT + 4:len(stub)] == stub[PACKAGE_END_AT + 4:], arch
        assert int.from_bytes(built[PACKAGE_END_AT:PACKAGE_END_AT + 4], "little") == len(built)
        run(korvan_pack, "verify", out)


def test_install_into_a_prefix_and_move_it(tmp_path):
    prefix = tmp_path / "prefix"
    run("cmake", "--install", HOST, "--prefix", prefix)
    work = inputs(tmp_path / "work")
    check_prefix(prefix, work)

    # A prefix moved elsewhere still finds its stubs beside its bin folder.
    moved = tmp_path / "elsewhere" / "korvan"
    moved.parent.mkdir()
    prefix.rename(moved)
    check_prefix(moved, work)

    # A tool with no stubs beside it: one line naming where it looked.
    lone = tmp_path / "lone" / "bin"
    lone.mkdir(parents=True)
    shutil.copy(moved / "bin" / "korvan-pack", lone)
    proc = run(lone / "korvan-pack", "build", "--arch", "x86_64", "--out", work / "x.exe", "--dir", work,
               "--setup", "Setup.exe", check=False)
    assert proc.returncode == 1
    assert proc.stderr.count("\n") == 1, proc.stderr
    assert "stub-x86_64.exe" in proc.stderr and str(tmp_path / "lone" / "share" / "korvan") in proc.stderr
    assert not (work / "x.exe").exists()
    proc = run(lone / "korvan-pack", "build", "--arch", "arm", "--out", work / "x.exe", "--setup", "Setup.exe",
               check=False)
    assert proc.returncode == 2 and "--arch" in proc.stderr


def test_debian_package_installs_with_dpkg(tmp_path):
    # The same CPack configuration `make package` runs, writing into tmp_path.
    run("cpack", "-G", "DEB", "--config", HOST / "CPackConfig.cmake", "-B", tmp_path / "out")
    debs = list((tmp_path / "out").glob("korvan_*.deb"))
    assert len(debs) == 1, debs
    listing = run("dpkg-deb", "-c", debs[0]).stdout
    for path in ("./usr/bin/korvan-pack", "./usr/share/korvan/stub-i686.exe",
                 "./usr/share/korvan/stub-x86_64.exe", "./usr/share/doc/korvan/README.md"):
        assert path in listing, listing

    # A real dpkg install into a scratch root with a database of its own
    # (the libraries it depends on are the host's, not that root's).
    root = tmp_path / "root"
    (root / "var" / "lib" / "dpkg" / "info").mkdir(parents=True)
    (root / "var" / "lib" / "dpkg" / "updates").mkdir()
    (root / "var" / "lib" / "dpkg" / "status").write_text("")
    run("dpkg", f"--root={root}", "--force-not-root", "--force-depends", "--log=/dev/null", "-i", debs[0])
    status = run("dpkg", f"--root={root}", "-s", "korvan").stdout
    assert "Status: install ok installed" in status, status
    check_prefix(root / "usr", inputs(tmp_path / "work"))
