#!/usr/bin/env python3
"""Runs clipwell-cut over a corpus of hostile inputs, names, output places and signals, and
counts crashes, hangs, leftovers and lost data. Sources are made with the reference tools
(ffmpeg, lame, oggenc). Not part of ./test.sh.

    fuzz/hostile_corpus.py [CLIPWELL_CUT] [WORK_FOLDER]
"""
import hashlib, os, random, shutil, signal, socket, stat, subprocess, sys, time

CUT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin/clipwell-cut")
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "/tmp/clipwell-hostile")
TIMEOUT = 90
ALLOWED = {0, 1, 2, 3, 129, 130, 143}
random.seed(16)

def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, **kw)

def digest(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None

def make_sources(src):
    os.makedirs(src, exist_ok=True)
    tone = ["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=20,aformat=channel_layouts=stereo"]
    wav = f"{src}/tone.wav"
    run(tone + [wav])
    run(["lame", "--quiet", "-b", "128", wav, f"{src}/cbr.mp3"])
    run(["lame", "--quiet", "-V", "2", wav, f"{src}/vbr.mp3"])
    run(["ffmpeg", "-y", "-v", "error", "-i", f"{src}/vbr.mp3", "-c", "copy", "-write_xing", "0", f"{src}/noxing.mp3"])
    run(["oggenc", "-Q", "-q", "4", wav, "-o", f"{src}/tone.ogg"])
    run(["ffmpeg", "-y", "-v", "error", "-i", wav, "-c:a", "aac", "-f", "adts", f"{src}/tone.aac"])
    run(["ffmpeg", "-y", "-v", "error", "-i", wav, "-c:a", "wmav2", f"{src}/tone.wma"])
    return [wav, f"{src}/cbr.mp3", f"{src}/vbr.mp3", f"{src}/noxing.mp3", f"{src}/tone.ogg",
            f"{src}/tone.aac", f"{src}/tone.wma"]

class Tally:
    def __init__(self):
        self.cases = self.crashes = self.hangs = self.leftovers = self.lost = 0
        self.notes = []

    def note(self, kind, case, detail):
        self.notes.append(f"{kind}: {case}: {detail}")

T = Tally()

def check(case, folder, proc_rc, kept, inputs, signalled=False):
    """proc_rc: exit code or None for a hang. kept: {name: digest} that must stay as they were."""
    T.cases += 1
    if proc_rc is None:
        T.hangs += 1
        T.note("hang", case, "")
    elif proc_rc < 0 and not signalled:
        T.crashes += 1
        T.note("crash", case, f"signal {-proc_rc}")
    elif proc_rc >= 0 and proc_rc not in ALLOWED:
        T.crashes += 1
        T.note("crash", case, f"exit {proc_rc}")
    for name in os.listdir(folder):
        if ".clipwell-" in name or name.startswith("TemAudio"):
            T.leftovers += 1
            T.note("leftover", case, name)
    for path, d in kept.items():
        if digest(path) != d:
            T.lost += 1
            T.note("lost", case, path)
    for path, d in inputs.items():
        if digest(path) != d:
            T.lost += 1
            T.note("input changed", case, path)

def cut(args, cwd=None, stdin=subprocess.DEVNULL):
    try:
        p = subprocess.run([CUT] + args, cwd=cwd, stdin=stdin, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, timeout=TIMEOUT)
        return p.returncode, p.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return None, ""

def fresh(name):
    folder = f"{WORK}/{name}"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder

def file_cases(sources):
    """Damaged and disguised inputs, each cut in both modes."""
    inputs = []
    folder = fresh("inputs")
    for src in sources:
        data = open(src, "rb").read()
        base = os.path.basename(src)
        stem, ext = os.path.splitext(base)
        variants = {
            "whole": data,
            "trunc10": data[: len(data) // 10],
            "trunc50": data[: len(data) // 2],
            "trunc90": data[: len(data) * 9 // 10],
            "head": data[:200],
            "flips": bytes(b ^ (0xFF if random.random() < 0.002 else 0) for b in data),
            "zeromid": data[: len(data) // 3] + bytes(4096) + data[len(data) // 3 + 4096 :],
        }
        for v, content in variants.items():
            path = f"{folder}/{stem}-{v}{ext}"
            open(path, "wb").write(content)
            inputs.append(path)
    # Other content under audio names.
    for name, content in [("empty.mp3", b""), ("text.mp3", b"not audio\n" * 100),
                          ("random.wav", os.urandom(65536)), ("riffonly.wav", b"RIFF\x24\x00\x00\x00WAVE"),
                          ("oggsonly.ogg", b"OggS" + bytes(60)), ("id3only.mp3", b"ID3\x04\x00\x00\x7f\x7f\x7f\x7f")]:
        path = f"{folder}/{name}"
        open(path, "wb").write(content)
        inputs.append(path)
    with open(f"{folder}/sparse.mp3", "wb") as f:
        f.truncate(512 << 20)
    inputs.append(f"{folder}/sparse.mp3")
    return inputs

def run_file_cases(inputs):
    out = fresh("out-files")
    sums = {p: digest(p) for p in inputs}
    for path in inputs:
        for mode, marks in (("select", ["--start", "2000", "--end", "9000"]), ("delete", ["--start", "3000", "--end", "15000"])):
            precious = f"{out}/precious.txt"
            open(precious, "w").write("keep")
            rc, err = cut([mode, path, f"{out}/o", "--quiet"] + marks)
            check(f"{mode} {os.path.basename(path)}", out, rc, {precious: digest(precious)}, {path: sums[path]})
            for n in os.listdir(out):
                if n != "precious.txt" and ".clipwell-" not in n and not n.startswith("TemAudio"):
                    os.unlink(f"{out}/{n}")
        rc, _ = cut(["info", path])
        check(f"info {os.path.basename(path)}", out, rc, {}, {path: sums[path]})

def run_special_cases(sources):
    mp3 = sources[1]
    folder = fresh("special")
    out = fresh("out-special")
    sums = {mp3: digest(mp3)}
    # Not regular files.
    os.mkfifo(f"{folder}/fifo.mp3")
    os.symlink("/dev/zero", f"{folder}/zero.mp3")
    os.symlink("/dev/urandom", f"{folder}/urandom.wav")
    os.mkdir(f"{folder}/folder.mp3")
    os.symlink(f"{folder}/loop.mp3", f"{folder}/loop.mp3")
    os.symlink(f"{folder}/missing.mp3", f"{folder}/dangling.mp3")
    for name in ["fifo.mp3", "zero.mp3", "urandom.wav", "folder.mp3", "loop.mp3", "dangling.mp3"]:
        for cmd in (["info", f"{folder}/{name}"], ["select", f"{folder}/{name}", f"{out}/x", "--start", "0", "--end", "1000"]):
            rc, err = cut(cmd)
            check(f"{cmd[0]} {name}", out, rc, {}, {})
            if rc not in (1, 3):
                T.note("unexpected", f"{cmd[0]} {name}", f"exit {rc}")
    # Names the libraries would read as protocols, and other odd names.
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen()
        server.setblocking(False)
        port = server.getsockname()[1]
        names = [f"http:127.0.0.1:{port}.mp3", "pipe:x.mp3", "tcp:127.0.0.1:1.mp3", "unicode:utf8:x.mp3",
                 "file:y.mp3", "-dash.mp3", "new\nline.mp3", "bad\xff.mp3".encode("latin-1").decode("utf-8", "surrogateescape"),
                 "a" * 251 + ".mp3", "subfile,,start,0,end,0,,:x.mp3", "concat:a.mp3|b.mp3"]
        for name in names:
            path = os.path.join(folder, name)
            shutil.copy(mp3, path)
            s = digest(path)
            for mode in ("select", "delete"):
                rc, err = cut([mode, "--start", "1000", "--end", "3000", "--quiet", "--", name, mode + "-" + name[:200]], cwd=folder)
                check(f"{mode} name {name[:40]!r}", folder, rc, {}, {path: s})
                if rc != 0:
                    T.note("unexpected", f"{mode} name {name[:40]!r}", f"exit {rc}: {err.strip()[:200]}")
        try:
            server.accept()
            T.lost += 1
            T.note("network", "protocol names", "a connection reached the listener")
        except BlockingIOError:
            pass
    # Output places: existing file without consent, the input itself, a folder, a missing folder.
    precious = f"{out}/taken.mp3"
    open(precious, "w").write("keep")
    for cmd in (["select", mp3, precious, "--start", "0", "--end", "1000"],
                ["select", mp3, mp3, "--start", "0", "--end", "1000", "--overwrite"],
                ["select", mp3, f"{out}/folder", "--start", "0", "--end", "1000"],
                ["delete", mp3, f"{out}/missing/x", "--start", "1000", "--end", "2000"],
                ["select", mp3, f"{out}/x", "--start", "2562054119:00:00", "--end", "2562054119:00:01"],
                ["select", mp3, f"{out}/x", "--start", "99999999999", "--end", "999999999999"],
                ["delete", mp3, f"{out}/x", "--start", "0", "--end", "999999999999"]):
        if cmd[2].endswith("/folder"):
            os.makedirs(f"{out}/folder.mp3", exist_ok=True)
        rc, err = cut(cmd)
        check(" ".join(os.path.basename(c) for c in cmd[:3]) + " " + cmd[4], out, rc, {precious: digest(precious)}, sums)
    # Signals at random moments, twice, and kills followed by a clean run.
    big = fresh("big")
    long_mp3 = f"{big}/long.mp3"
    run(["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "sine=f=300:d=600", "-c:a", "libmp3lame", "-b:a", "128k", long_mp3])
    sums[long_mp3] = digest(long_mp3)
    for i in range(12):
        mode = "delete" if i % 2 else "select"
        sig = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP][i % 3]
        target = f"{out}/sig.mp3"
        open(target, "w").write("previous")
        p = subprocess.Popen([CUT, mode, long_mp3, target, "--start", "10000", "--end", "500000", "--overwrite"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0.05, 3.0))
        p.send_signal(sig)
        if i >= 6:
            p.send_signal(sig)  # a second signal still cleans up
        try:
            rc = p.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            p.kill()
            rc = None
        kept = {} if rc == 0 else {target: hashlib.sha256(b"previous").hexdigest()}
        check(f"{mode} signal {sig.name} x{1 + (i >= 6)}", out, rc, kept, sums, signalled=True)
    for i in range(6):
        mode = "delete" if i % 2 else "select"
        p = subprocess.Popen([CUT, mode, long_mp3, f"{out}/killed.mp3", "--start", "10000", "--end", "500000", "--overwrite"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0.5, 3.0))
        p.kill()
        p.wait()
        rc, err = cut(["select", sources[0], f"{out}/after-kill", "--start", "0", "--end", "500", "--overwrite", "--quiet"])
        check(f"{mode} SIGKILL then a clean run", out, rc, {}, sums)
    # Concurrent runs writing one new name.
    for i in range(4):
        target = f"{out}/same{i}.mp3"
        procs = [subprocess.Popen([CUT, "select", mp3, target, "--start", "0", "--end", "15000"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for _ in range(3)]
        codes = sorted(p.wait() for p in procs)
        check(f"three runs onto one new name #{i}", out, codes[-1], {}, sums)
        if codes.count(0) != 1:
            T.note("unexpected", f"concurrent #{i}", f"exit codes {codes}")

def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    sources = make_sources(f"{WORK}/sources")
    inputs = file_cases(sources)
    run_file_cases(inputs)
    run_special_cases(sources)
    print(f"cases {T.cases}, crashes {T.crashes}, hangs {T.hangs}, leftovers {T.leftovers}, data lost {T.lost}")
    for n in T.notes:
        print("  " + n)
    return 0 if T.crashes + T.hangs + T.leftovers + T.lost == 0 else 1

if __name__ == "__main__":
    sys.exit(main())
