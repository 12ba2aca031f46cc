#!/usr/bin/env python3
"""The benchmark suite: measures side by side, in one run, on data it
generates, and prints one table of ratios with their absolute figures.

    bench/run.py [--quick] [--results FILE]

--quick uses small data (about a minute); the full run uses 300 MB of mixed
files and one 1 GiB compressible entry. The table is also written to
bench/RESULTS.md (or FILE) with the machine it came from.
"""
import argparse
import datetime
import os
import platform
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
BUILD = TOP / "build"
PACK = BUILD / "host" / "korvan-pack"
CRC_TIME = BUILD / "host" / "bench" / "bench_crc_time"
STUB32 = BUILD / "win32" / "stub.exe"
STUB64 = BUILD / "win64" / "stub.exe"
SETUP = BUILD / "win64" / "testkit" / "setup_probe.exe"
# A program that ends at once: the setup of the packages whose extraction is
# timed, so that the setup's own work is not in the figures.
QUICK_SETUP = BUILD / "win64" / "testkit" / "macro_probe.exe"
WINE_RUN = TOP / "scripts" / "wine-run"
MB = 1 << 20


def run(args, **kw):
    return subprocess.run([str(a) for a in args], check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kw)


def timed(args, repeat=1, **kw):
    """Best wall-clock time of REPEAT runs."""
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        run(args, **kw)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best


def win_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# ---- Data --------------------------------------------------------------------------

WORDS = ("setup package volume archive product update folder window message install "
         "korvan agent stream checksum extract deflate inflate header section entry").split()


def text_bytes(rng, size):
    out = []
    total = 0
    while total < size:
        line = " ".join(rng.choices(WORDS, k=12)) + f" {rng.randrange(100000)}\n"
        out.append(line)
        total += len(line)
    return "".join(out).encode()[:size]


def binary_bytes(rng, size):
    # Structured records: counters, small numbers and a little noise, as
    # executables and data files have.
    record = bytearray()
    n = 0
    while len(record) < size:
        record += n.to_bytes(4, "little") + rng.randrange(256).to_bytes(1, "little") + b"\0\0\0" + \
            (n * 7 & 0xFFFF).to_bytes(2, "little") + os.urandom(2) + b"\xff" * 4
        n += 1
    return bytes(record[:size])


def make_mixed(folder, total):
    folder.mkdir(parents=True, exist_ok=True)
    rng = random.Random(7)
    files = []
    third = total // 3
    per = max(third // 10, 1 << 16)
    kinds = (("txt", text_bytes), ("dat", binary_bytes), ("rnd", lambda r, s: os.urandom(s)))
    for ext, make in kinds:
        made = 0
        i = 0
        while made < third:
            size = min(per, third - made)
            path = folder / f"f{i:03d}.{ext}"
            path.write_bytes(make(rng, size))
            files.append(path)
            made += size
            i += 1
    return files


def make_compressible(path, size):
    rng = random.Random(11)
    chunk = text_bytes(rng, 8 * MB)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            part = chunk[:min(left, len(chunk))]
            out.write(part)
            left -= len(part)


# ---- Measurements ---------------------------------------------------------------

def pack_build(out, folder, names, jobs=None, setup=None):
    if setup is None:
        shutil.copy(QUICK_SETUP, Path(folder) / QUICK_SETUP.name)
        setup = QUICK_SETUP.name + "*"
    args = [PACK, "build", "--stub", STUB64, "--out", out, "--dir", folder, "--setup", setup]
    if jobs:
        args += ["--jobs", jobs]
    return args + names


def gzip_all(files, level_args, out_dir=None):
    def go():
        for f in files:
            with open(f, "rb") as src:
                dst = open(out_dir / (f.name + ".gz"), "wb") if out_dir else subprocess.DEVNULL
                try:
                    subprocess.run(["gzip", *level_args], stdin=src, stdout=dst, check=True)
                finally:
                    if out_dir:
                        dst.close()
    start = time.perf_counter()
    go()
    return time.perf_counter() - start


def gunzip_all(gz_files):
    start = time.perf_counter()
    for f in gz_files:
        with open(f, "rb") as src:
            subprocess.run(["gzip", "-dc"], stdin=src, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def extract_supported():
    probe = subprocess.run([str(PACK), "extract"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return "not supported" not in (probe.stdout + probe.stderr)


class Wine:
    def __init__(self, prefix):
        self.env = dict(os.environ, KORVAN_WINEPREFIX=str(prefix))
        run([WINE_RUN, "--init"], env=self.env)

    def start(self, program, *args):
        return subprocess.Popen([str(WINE_RUN), str(program), *map(str, args)], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def shutdown(self):
        subprocess.run([str(WINE_RUN), "--shutdown"], env=self.env)


def processes_named(name):
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        if name.encode() in cmdline:
            found.append(entry)
    return found


def peak_kib(entry):
    try:
        status = (entry / "status").read_text()
    except OSError:
        return 0
    m = re.search(r"^VmHWM:\s+(\d+) kB", status, re.M)
    return int(m.group(1)) if m else 0


def run_stub(wine, package, *args, watch_memory=False):
    """Seconds the stub ran, and the peak resident set of its process."""
    start = time.perf_counter()
    proc = wine.start(package, *args)
    peak = 0
    while proc.poll() is None:
        if watch_memory:
            for entry in processes_named(package.name):
                peak = max(peak, peak_kib(entry))
        time.sleep(0.05)
    took = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError(f"{package.name} exited {proc.returncode}")
    return took, peak


def time_to_setup(wine, package, report):
    report.unlink(missing_ok=True)
    start = time.perf_counter()
    proc = wine.start(package, "/hide")
    while not report.exists():
        if proc.poll() is not None and not report.exists():
            raise RuntimeError("the setup never reported")
        time.sleep(0.01)
    took = time.perf_counter() - start
    proc.wait()
    return took


def map_contributors(map_file, count=8):
    """Bytes of code and data that each input object adds, from a GNU ld map."""
    sizes = {}
    pending = None
    section_re = re.compile(r"^ (\.(?:text|data|rdata|bss|eh_frame|pdata|xdata)[^\s]*)\s*(.*)$")
    line_re = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
    for line in map_file.read_text(errors="replace").splitlines():
        m = section_re.match(line)
        if m:
            rest = m.group(2)
            if not rest:
                pending = m.group(1)
                continue
            line = "  " + rest
        elif pending is None:
            continue
        pending = None
        m = line_re.match(line)
        if not m:
            continue
        size = int(m.group(1), 16)
        source = m.group(2).strip()
        member = re.search(r"([^/\\]+\.a)\(([^)]+)\)$", source)
        key = f"{member.group(1)}({member.group(2)})" if member else Path(source).name
        sizes[key] = sizes.get(key, 0) + size
    return sorted(sizes.items(), key=lambda kv: -kv[1])[:count]


# ---- The suite -------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--results", default=str(TOP / "bench" / "RESULTS.md"))
    parser.add_argument("--work", default=str(BUILD / "bench"))
    opts = parser.parse_args()

    mixed_total = 30 * MB if opts.quick else 300 * MB
    big_entry = 64 * MB if opts.quick else 1024 * MB
    repeat = 1
    work = Path(opts.work)
    if work.exists():
        shutil.rmtree(work)
    data = work / "mixed"
    print(f"== generating {mixed_total // MB} MB of mixed files and a {big_entry // MB} MB entry", flush=True)
    files = make_mixed(data, mixed_total)
    names = [f.name for f in files]
    big_dir = work / "big"
    big_dir.mkdir()
    make_compressible(big_dir / "big.txt", big_entry)
    one_dir = work / "one"
    one_dir.mkdir()
    (one_dir / "readme.txt").write_bytes(b"one file\n" * 100)
    shutil.copy(SETUP, one_dir / "setup_probe.exe")
    rows = []

    def row(name, ratio, figures, target=""):
        rows.append((name, ratio, figures, target))
        print(f"   {name}: {ratio}  ({figures})", flush=True)

    cores = os.cpu_count() or 1
    total_mb = mixed_total / MB

    print("== builder", flush=True)
    pkg = work / "mixed.exe"
    t_pack = timed(pack_build(pkg, data, names), repeat)
    t_pack1 = timed(pack_build(work / "mixed1.exe", data, names, jobs=1), repeat)
    gz_dir = work / "gz"
    gz_dir.mkdir()
    t_gzip = min(gzip_all(files, ["-9", "-c"], gz_dir) for _ in range(repeat))
    row("korvan-pack build / gzip -9 (speed)", f"{t_gzip / t_pack:.2f}x",
        f"{total_mb / t_pack:.1f} MB/s against {total_mb / t_gzip:.1f} MB/s, {cores} cores", ">= 1.7")
    row("korvan-pack build, all cores / one", f"{t_pack1 / t_pack:.2f}x",
        f"{total_mb / t_pack:.1f} MB/s against {total_mb / t_pack1:.1f} MB/s")

    print("== reader", flush=True)
    gz_files = sorted(gz_dir.iterdir())
    t_gunzip = min(gunzip_all(gz_files) for _ in range(repeat))
    t_verify = timed([PACK, "verify", pkg], repeat)
    row("korvan-pack verify / gzip -dc (speed)", f"{t_gunzip / t_verify:.2f}x",
        f"{total_mb / t_verify:.1f} MB/s against {total_mb / t_gunzip:.1f} MB/s")
    have_extract = extract_supported()
    t_extract = None
    if have_extract:
        out = work / "extracted"
        t_extract = timed([PACK, "extract", pkg, out], 1)
        row("korvan-pack extract / gzip -dc (speed)", f"{t_gunzip / t_extract:.2f}x",
            f"{total_mb / t_extract:.1f} MB/s against {total_mb / t_gunzip:.1f} MB/s")
        shutil.rmtree(out, ignore_errors=True)
    else:
        row("korvan-pack extract / gzip -dc (speed)", "n/a", "this korvan-pack has no extract")

    # The checksum against reading the file once, both from the page cache.
    run(["cat", pkg])
    start = time.perf_counter()
    subprocess.run(["cat", str(pkg)], stdout=subprocess.DEVNULL, check=True)
    t_cat = time.perf_counter() - start
    t_crc = min(float(run([CRC_TIME, pkg]).stdout.split()[1]) for _ in range(3))
    row("GetCrc / cat > /dev/null (time)", f"{t_crc / t_cat:.2f}x",
        f"{pkg.stat().st_size / MB / t_crc:.0f} MB/s against {pkg.stat().st_size / MB / t_cat:.0f} MB/s", "<= 1.5")

    print("== the stub under Wine", flush=True)
    wine = Wine(work / "prefix")
    try:
        small = work / "small.exe"
        run(pack_build(small, one_dir, ["readme.txt"]))
        t_small = min(run_stub(wine, small, "/hide")[0] for _ in range(2))
        t_big, _ = run_stub(wine, pkg, "/hide")
        t_stub = max(t_big - t_small, 1e-3)
        if t_extract:
            row("stub under Wine / korvan-pack extract (speed)", f"{t_extract / t_stub:.2f}x",
                f"{total_mb / t_stub:.1f} MB/s against {total_mb / t_extract:.1f} MB/s", ">= 0.7")
        else:
            row("stub under Wine extraction", f"{total_mb / t_stub:.1f} MB/s", "no host extractor to compare")

        big_pkg = work / "big.exe"
        run(pack_build(big_pkg, big_dir, ["big.txt"]))
        _, peak = run_stub(wine, big_pkg, "/hide", watch_memory=True)
        row(f"stub peak memory, {big_entry // MB} MB entry", f"{peak / 1024:.1f} MiB",
            "resident set of the Wine process (VmHWM)", "< 32 MiB")

        report = work / "one-report.json"
        setup = f"setup_probe.exe*--report={win_path(report)}"
        one = work / "one.exe"
        run(pack_build(one, one_dir, ["readme.txt"], setup=setup))
        t_setup = min(time_to_setup(wine, one, report) for _ in range(2))
        bare_report = work / "bare-report.json"
        start = time.perf_counter()
        run([WINE_RUN, SETUP, f"--report={win_path(bare_report)}"], env=wine.env)
        t_bare = time.perf_counter() - start
        row("stub start to setup start / setup alone", f"{t_setup / t_bare:.2f}x",
            f"{t_setup:.2f} s against {t_bare:.2f} s for the setup program started by itself")
    finally:
        wine.shutdown()

    print("== size", flush=True)
    for stub, target in ((STUB32, "<= 100 KiB"), (STUB64, "")):
        row(f"size of {stub.relative_to(TOP)}", f"{stub.stat().st_size / 1024:.1f} KiB",
            f"{stub.stat().st_size} bytes", target)
    contributors = map_contributors(BUILD / "win32" / "stub.map")

    lines = ["# Benchmark results", "",
             f"Measured {datetime.date.today().isoformat()} with `make bench{'-quick' if opts.quick else ''}` on "
             f"{machine()}.", "",
             "| Measure | Ratio or figure | Absolute figures | Target |", "|---|---|---|---|"]
    lines += [f"| {a} | {b} | {c} | {d} |" for a, b, c, d in rows]
    lines += ["", "Largest contributors to build/win32/stub.exe (bytes of sections, from the linker map):", "",
              "| Object | Bytes |", "|---|---|"]
    lines += [f"| {name} | {size} |" for name, size in contributors]
    text = "\n".join(lines) + "\n"
    print()
    print(text)
    Path(opts.results).write_text(text)
    if not opts.quick:
        shutil.rmtree(work, ignore_errors=True)
    return 0


def machine():
    model = ""
    try:
        m = re.search(r"^model name\s*:\s*(.*)$", Path("/proc/cpuinfo").read_text(), re.M)
        model = m.group(1) if m else ""
    except OSError:
        pass
    return f"{platform.node() or 'this machine'} ({os.cpu_count()} cores, {model}, Linux {platform.release()})"


if __name__ == "__main__":
    sys.exit(main())
