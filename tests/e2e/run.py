#!/usr/bin/env python3
# Runs transcript cases (the format: relay.t) against the real filter, as its GUI, in front of
# the scripted engine. Usage: run.py CASES.t ...  Environment: KESTROWAN_FILTER (the program),
# KESTROWAN_WINE (a loader to run it with), KESTROWAN_TEST_ENGINE, KESTROWAN_NO_PIDFD (the
# preload shim), KESTROWAN_SANITIZED=1, KESTROWAN_JOBS, KESTROWAN_FAIL_FAST=1.
import os, re, select, shlex, shutil, signal, subprocess, sys, tempfile, threading, time
from concurrent.futures import ThreadPoolExecutor

FILTER, ENGINE, WINE = os.environ["KESTROWAN_FILTER"], os.environ["KESTROWAN_TEST_ENGINE"], \
    os.environ.get("KESTROWAN_WINE", "")
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEADLINE = 20.0
SETUP = {"only", "needs", "engine", "engine-at", "file", "cwd", "env", "run", "command", "odd"}
# The scripted engine's answers, where a case gives none of its own for the word.
DEFAULTS = {"uci": "id name kestrowan test engine\\noption name Hash type spin\\nuciok",
            "isready": "readyok", "stop": "bestmove e2e4", "quit": "!exit", "eof": "!exit"}


class Failure(Exception):
    pass


def unescape(text):
    text = re.sub(r"\{(.)\*(\d+)\}", lambda m: m[1] * int(m[2]), text).encode()
    return re.sub(rb"\\(x..|.)", lambda m: bytes.fromhex(m[1][1:].decode()) if len(m[1]) == 3
                  else {b"n": b"\n", b"r": b"\r", b"t": b"\t", b"0": b"\0"}.get(m[1], m[1]), text)


def parse(path):
    cases = []
    for line in open(path, encoding="utf-8").read().splitlines():
        if line.startswith("=== "):
            cases.append((line[4:], []))
        elif line.strip() and not line.startswith("#"):
            cases[-1][1].append(tuple(line.partition(" ")[::2]))
    return [variant for name, steps in cases for variant in variants(name, steps)]


def variants(name, steps):
    # "for V A|B|C" makes a case of each value: {V} is the value, {V:a|b|c} the matching one.
    loop = [arg.partition(" ") for op, arg in steps if op == "for"]
    if not loop:
        return [(name, steps)]
    var, _, values = loop[0]
    result = []
    for index, value in enumerate(values.split("|")):
        def put(text):
            text = re.sub(r"\{%s:([^{}]*)\}" % var, lambda m: m[1].split("|")[index], text)
            return text.replace("{%s}" % var, value)
        label = name if "{%s}" % var in name else f"{name} [{value or 'none'}]"
        result.append((put(label), [(op, put(arg)) for op, arg in steps if op != "for"]))
    return result


def gone(pid):
    try:
        return open(f"/proc/{pid}/stat").read().split(")")[1].split()[0] == "Z"
    except OSError:
        return True


class Case:
    def __init__(self, steps):
        # A case that does not end the filter itself ends with quit and a clean exit.
        steps += [] if {"exit", "signal"} & {op for op, _ in steps} else [(">", "quit"), ("exit", "")]
        self.steps, self.dir = steps, tempfile.mkdtemp(prefix="kestrowan-")
        self.engine, self.args, self.command, self.cwd, self.script = ENGINE, None, None, \
            self.dir, []
        self.env = dict(os.environ, KESTROWAN_TEST_DIR=self.dir,
                        ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.lines, self.cursor, self.stderr, self.loose, self.odd = [], 0, b"", False, False
        self.drop_stdout, self.stdout_closed = threading.Event(), threading.Event()
        self.changed, self.mark = threading.Condition(), time.monotonic()

    def expand(self, word):
        quoted = f'"{self.engine}"' if re.search("[ \t]", self.engine) else self.engine
        for key, value in {"engine": self.engine, "enginedir": os.path.dirname(self.engine),
                           "dir": self.dir, "filter": FILTER, "tests": TESTS,
                           "nopidfd": os.environ.get("KESTROWAN_NO_PIDFD", "")}.items():
            word = word.replace("{" + key + "}", value)
        return re.sub(r"\{fill:(\d+)\}", lambda m: "a" * (int(m[1]) - len(quoted) - 1), word)

    def setup(self, op, arg):
        if op == "only" and {"native": WINE, "wine": not WINE, "any": False,
                             "plain": WINE or os.environ.get("KESTROWAN_SANITIZED") == "1"}[arg]:
            return "skipped: " + arg + " only"
        if op == "needs" and not all(os.path.exists(p) for p in self.expand(arg).split() if p[0] == "/"):
            return "skipped: needs " + arg
        if op == "engine-at":  # PATH [SOURCE]: a copy of the scripted engine, or of SOURCE
            path, *source = shlex.split(arg)
            self.engine = os.path.join(self.dir, path + (".exe" if WINE and not source else ""))
            os.makedirs(os.path.dirname(self.engine), exist_ok=True)
            shutil.copy((source or [ENGINE])[0], self.engine)
        elif op == "file":
            path, _, content = arg.partition(" ")
            os.makedirs(os.path.dirname(os.path.join(self.dir, path)), exist_ok=True)
            open(os.path.join(self.dir, path), "wb").write(unescape(self.expand(content)))
        elif op in ("run", "command"):
            words = [self.expand(w) for w in shlex.split(arg)]
            self.args, self.command = (words, None) if op == "run" else (None, words)
        self.script += [arg] if op == "engine" else []
        self.cwd = os.path.join(self.dir, arg) if op == "cwd" else self.cwd
        self.env.update([(arg.split("=")[0], self.expand(arg.split("=", 1)[1]))] if op == "env" else [])
        self.odd |= op == "odd"

    def start(self):
        words = {line.split()[0] for line in self.script}
        with open(os.path.join(self.dir, "engine.script"), "wb") as script:
            for line in self.script + [f"{w} 0 {t}" for w, t in DEFAULTS.items() if w not in words]:
                word, delay, text = line.split(" ", 2)
                data = unescape(self.expand(text.removesuffix("\\c"))) + (
                    b"" if text.endswith("\\c") or text.startswith("!") else b"\n")
                script.write(f"{word} {delay} {len(data)}\n".encode() + data + b"\n")
        args = self.args if self.args is not None else [self.engine]
        keep = os.open(os.devnull, os.O_RDONLY) if self.odd else None

        def odd_start():  # an ignored and a blocked signal, and stray descriptors, low and high
            os.dup2(keep, 100)
            os.set_inheritable(keep, True)
            signal.signal(signal.SIGUSR1, signal.SIG_IGN)
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR2})
        self.proc = subprocess.Popen(
            self.command or ([WINE] if WINE else []) + [FILTER] + args, cwd=self.cwd, env=self.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            close_fds=not self.odd, preexec_fn=odd_start if self.odd else None)
        os.close(keep) if self.odd else None
        self.readers = [threading.Thread(target=self.read, args=(s,), daemon=True)
                        for s in (self.proc.stdout, self.proc.stderr)]
        [reader.start() for reader in self.readers]

    def read(self, stream):
        pending, chunk = [], b"."  # the line still coming in, in parts: a long one is joined once
        while chunk:
            if stream is self.proc.stdout and self.drop_stdout.is_set():
                stream.close()  # as a GUI that goes away: the next write fails
                return self.stdout_closed.set()
            if select.select([stream], [], [], 0.05)[0]:
                chunk = stream.read1(1 << 20)
                with self.changed:
                    if stream is self.proc.stderr:
                        self.stderr += chunk
                        continue
                    *done, last = chunk.split(b"\n")
                    if done:
                        self.lines += [b"".join(pending + done[:1])] + done[1:]
                        pending = []
                    pending.append(last)
                    self.changed.notify_all()
        with self.changed:
            self.lines += [b"".join(pending)] if b"".join(pending) else []
            self.changed.notify_all()

    def next_line(self, matches, skip):
        limit = time.monotonic() + DEADLINE
        with self.changed:
            while True:
                while self.cursor < len(self.lines):
                    self.cursor += 1
                    if matches(self.lines[self.cursor - 1]):
                        return
                    if not skip:
                        raise Failure(f"got {self.lines[self.cursor - 1][:200]!r}")
                if not self.changed.wait(limit - time.monotonic()):
                    raise Failure("nothing more within the deadline")

    def log(self):
        try:
            return open(os.path.join(self.dir, "engine.log"), "rb").read().split(b"\n")[:-1]
        except OSError:
            return []

    def act(self, op, arg):
        options = dict(w.split("=") for w in arg.split()) if op in ("exit", "gone") else {}
        within = float(options.get("within", DEADLINE * 1000)) / 1000
        if op in (">", ">raw", "close-stdin", "signal"):
            self.mark = time.monotonic()
        if op in (">", ">raw"):
            try:
                self.proc.stdin.write(unescape(arg) + (b"\n" if op == ">" else b""))
                self.proc.stdin.flush()
            except BrokenPipeError:
                pass
        elif op == "<":
            expected, self.loose = unescape(arg), False
            self.next_line(lambda line: line == expected, skip=False)
        elif op == "<~":
            self.loose = True
            self.next_line(lambda line: re.search(arg.encode(), line), skip=True)
        elif op == "close-stdin":
            self.proc.stdin.close()
        elif op == "close-stdout":
            self.drop_stdout.set()
            self.stdout_closed.wait(DEADLINE)
        elif op == "signal":
            self.proc.send_signal(getattr(signal, "SIG" + arg))
        elif op == "exit":
            try:
                status = self.proc.wait(within)
            except subprocess.TimeoutExpired:
                raise Failure(f"still running {within} s after the last step")
            took = (time.monotonic() - self.mark) * 1000
            if took < float(options.get("after", 0)) or status != 0:
                raise Failure(f"ended with {status} after {took:.0f} ms")
            [reader.join(DEADLINE) for reader in self.readers]
            if not self.loose and self.cursor < len(self.lines):
                raise Failure(f"more output: {self.lines[self.cursor][:200]!r}")
        elif op == "gone" and not WINE:
            pids = [int(line[5:]) for line in self.log() if line.startswith(b"#pid ")]
            while not all(gone(pid) for pid in pids):
                if time.monotonic() > self.mark + within:
                    raise Failure(f"engine {pids} still running")
                time.sleep(0.01)
        elif op not in ("stderr", "received", "argv", "log", "gone"):
            raise Failure("unknown step " + op)

    def check(self):
        steps = [(op, unescape(self.expand(arg))) for op, arg in self.steps]
        log = self.log()
        received = [arg for op, arg in steps if op == "received"]
        if received and [line for line in log if not line.startswith(b"#")] != received:
            raise Failure(f"engine received {log}")
        argv = [shlex.split(arg.decode()) for op, arg in steps if op == "argv"]
        if argv and [line[5:].decode() for line in log if line.startswith(b"#arg ")] != argv[0]:
            raise Failure(f"engine started with {log}")
        for line in [arg for op, arg in steps if op == "log" and arg and not WINE]:
            if line not in log:
                raise Failure(f"{line!r} not in the engine's log {log}")
        # The error line: in Latin-1 with CR LF from the Windows build; any code unless given.
        want = [arg.decode() for op, arg in steps if op == "stderr" and arg] + [None]
        encoding, end = ("latin-1", "\r\n") if WINE else ("utf-8", "\n")
        pattern = b"" if not want[0] else (re.escape("info string Kestrowan: ") + (
            "" if want[0].startswith("FEHLER ") else r"FEHLER -?\d+; ") + re.escape(want[0]) +
            end).encode(encoding)
        if not re.fullmatch(pattern, self.stderr):
            raise Failure(f"standard error {self.stderr!r}")

    def run(self):
        for op, arg in self.steps:
            if op in SETUP and (skipped := self.setup(op, arg)):
                return skipped
        self.start()
        try:
            for number, (op, arg) in enumerate(self.steps, 1):
                try:
                    None if op in SETUP else self.act(op, arg)
                except Failure as failure:
                    raise Failure(f"step {number} ({op} {arg[:80]}): {failure}")
            self.act("gone", "")
            self.check()
        finally:
            self.proc.kill() if self.proc.poll() is None else None
            shutil.rmtree(self.dir, ignore_errors=True)


def run_case(steps):
    try:
        return Case(steps).run() or "ok"
    except Exception as failure:
        if os.environ.get("KESTROWAN_FAIL_FAST") == "1":
            print(f"FAILED: {failure}\n0 passed, 1 failed", flush=True)
            os._exit(1)  # the filters still running see their input end, and end
        return "FAILED: " + str(failure)


def main():
    cases = [case for path in sys.argv[1:] for case in parse(path)]
    with ThreadPoolExecutor(int(os.environ.get("KESTROWAN_JOBS", "4"))) as pool:
        counts = {"ok": 0, "FAILED": 0, "skipped": 0}
        for (name, _), result in zip(cases, pool.map(lambda c: run_case(c[1]), cases)):
            print(f"{name}: {result}", flush=True)
            counts[result.split(":")[0]] += 1
    print(f"{counts['ok']} passed, {counts['FAILED']} failed, {counts['skipped']} skipped")
    return 1 if counts["FAILED"] else 0


if __name__ == "__main__":
    sys.exit(main())
