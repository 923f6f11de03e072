#!/usr/bin/env python3
# Runs transcript cases (the format: relay.t) against the real filter, as its GUI, in front of
# the scripted engine. Usage: run.py CASES.t ...  Environment: KESTROWAN_FILTER (the program),
# KESTROWAN_WINE (a Windows build: the Wine loader to run it with), KESTROWAN_LOADER (a command
# that runs a build for another machine, such as qemu-user and its arguments; {filter} in a
# case includes it), KESTROWAN_TEST_ENGINE, KESTROWAN_NO_PIDFD and KESTROWAN_NO_CLOSE_RANGE
# (the preload shims),
# KESTROWAN_QUICK=1 (leave out the largest cases), KESTROWAN_JOBS, KESTROWAN_FAIL_FAST=1 (end at
# the first failure).
import contextlib, fcntl, os, re, select, shlex, shutil, signal, subprocess, sys, tempfile, termios, threading, time
from concurrent.futures import ThreadPoolExecutor

FILTER, ENGINE = os.environ["KESTROWAN_FILTER"], os.environ["KESTROWAN_TEST_ENGINE"]
WINE, TESTS = os.environ.get("KESTROWAN_WINE", ""), os.path.dirname(sys.path[0])
LOADER = [WINE] if WINE else shlex.split(os.environ.get("KESTROWAN_LOADER", ""))
DEADLINE = 20.0
RUNNING = {}  # the filters started and not yet ended, by case
SETUP = {"only", "needs", "engine", "engine-at", "file", "cwd", "env", "run", "command", "odd",
         "no-stdout", "alone"}
# The scripted engine's answers, where a case gives none of its own for the word.
DEFAULTS = {"uci": "id name kestrowan test engine\\noption name Hash type spin\\nuciok",
            "isready": "readyok", "stop": "bestmove e2e4", "quit": "!exit", "eof": "!exit"}


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
            text = re.sub(r"\{%s:((?:[^{}]|\{\w+\})*)\}" % var, lambda m: m[1].split("|")[index], text)
            return text.replace("{%s}" % var, value)
        label = name if "{%s}" % var in name else f"{name} [{value or 'none'}]"
        result.append((put(label), [tuple(put(f"{op} {arg}").partition(" ")[::2])
                                    for op, arg in steps if op != "for"]))
    return result


def session(marker):  # every process a case started inherits its folder; a zombie shows none
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if marker in open(f"/proc/{pid}/environ", "rb").read().split(b"\0"):
                yield int(pid)


class Case:
    def __init__(self, steps):
        # A case that does not end the filter itself waits for the engine to answer, and ends
        # with quit and a clean exit.
        steps += [] if {"exit", "signal"} & {op for op, _ in steps} else [
            (">", "isready"), ("<", "readyok"), (">", "quit"), ("exit", "")]
        self.steps, self.dir, self.lines, self.cursor, self.stderr = steps, tempfile.mkdtemp(
            prefix="kestrowan-"), [], 0, b""
        self.engine, self.args, self.command, self.cwd, self.script = ENGINE, None, None, \
            self.dir, []
        self.env = dict(os.environ, KESTROWAN_TEST_DIR=self.dir,
                        ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.changed, self.mark, self.loose = threading.Condition(), time.monotonic(), False
        self.filler, self.kept = 0, []

    def expand(self, word):
        quoted = f'"{self.engine}"' if re.search("[ \t]", self.engine) else self.engine
        folder = os.path.dirname(self.engine)  # under Wine as Windows names it, \ escaped
        for key, value in {"engine": self.engine, "enginedir": "Z:" + folder.replace("/", "\\\\")
                           if WINE else folder,
                           "dir": self.dir, "filter": shlex.join(LOADER + [FILTER]), "tests": TESTS,
                           "nopidfd": os.environ.get("KESTROWAN_NO_PIDFD", ""),
                           "noclose": os.environ.get("KESTROWAN_NO_CLOSE_RANGE", "")}.items():
            word = word.replace("{" + key + "}", value)
        length = len(quoted.encode("utf-16-le")) // 2 if WINE else len(quoted.encode())
        return re.sub(r"\{fill:(\d+)\}", lambda m: "a" * (int(m[1]) - length - 1), word)

    def setup(self, op, arg):
        if op == "only" and {"native": WINE, "wine": not WINE, "any": False,
                             "full": WINE or os.environ.get("KESTROWAN_QUICK") == "1"}[arg]:
            return "skipped: " + arg + " only"
        if op == "needs" and not all(p and (p[0] != "/" or os.path.exists(p))
                                     for p in map(self.expand, arg.split())):
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
            os.chmod(os.path.join(self.dir, path), 0o755 if content.startswith("#!") else 0o644)
        elif op in ("run", "command"):
            words = [self.expand(w) for w in shlex.split(arg)]
            self.args, self.command = (words, None) if op == "run" else (None, words)
        elif op == "env":
            self.env[arg.split("=")[0]] = self.expand(arg.split("=", 1)[1])
        self.script += [arg] if op == "engine" else []
        self.cwd = os.path.join(self.dir, arg) if op == "cwd" else self.cwd

    def start(self, ops):
        words = {line.split()[0] for line in self.script}
        with open(os.path.join(self.dir, "engine.script"), "wb") as script:
            for line in self.script + [f"{w} 0 {t}" for w, t in DEFAULTS.items() if w not in words]:
                word, delay, text = line.split(" ", 2)
                data = unescape(self.expand(text.removesuffix("\\c"))) + (
                    b"" if text.endswith("\\c") or text.startswith("!") else b"\n")
                script.write(f"{word} {delay} {len(data)}\n".encode() + data + b"\n")
        # "no-stdout": the GUI has gone before the first line; "odd": the filter starts with
        # ignored signals (SIGCHLD, and SIGHUP as under nohup), a blocked one and stray
        # descriptors, low and high. The filter's own ends of its output and error stay open
        # here too, so that their flags can be looked at once it has ended.
        (out, out_end), (err, err_end), keep = os.pipe(), os.pipe(), os.open(os.devnull, os.O_RDONLY)

        def odd_start():
            os.dup2(keep, 100)
            os.set_inheritable(keep, True)
            [signal.signal(s, signal.SIG_IGN) for s in (signal.SIGHUP, signal.SIGUSR1, signal.SIGCHLD)]
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR2})
        self.proc = RUNNING[id(self)] = subprocess.Popen(
            self.command or LOADER + [FILTER] + (
                self.args if self.args is not None else [self.engine]), cwd=self.cwd,
            env=self.env, stdin=subprocess.PIPE, stdout=out_end, stderr=err_end,
            close_fds="odd" not in ops, preexec_fn=odd_start if "odd" in ops else None)
        os.close(keep)
        self.kept = [out_end, err_end]
        streams = [(None if "no-stdout" in ops else out, "stdout"), (err, "stderr")]
        os.close(out) if "no-stdout" in ops else None
        self.held = {}  # "stdout" or "stderr": "paused" or "closed", as by a GUI that stops reading
        self.readers = [threading.Thread(target=self.read, args=(open(fd, "rb", 0), name), daemon=True)
                        for fd, name in streams if fd is not None]
        [reader.start() for reader in self.readers]

    def release(self):  # the filter has ended: its streams must be as the GUI gave them
        for fd, name in zip(self.kept, ("output", "error")):
            if not self.command and fcntl.fcntl(fd, fcntl.F_GETFL) & os.O_NONBLOCK:
                raise AssertionError(f"the filter left its standard {name} non-blocking")
            os.close(fd)
        self.kept = []

    def read(self, stream, name):
        pending = []  # the line still coming in, in parts: a long one is joined once
        while True:
            ready = select.select([stream], [], [], 0.05)[0]
            with self.changed:  # a stream is closed here, where no read of it is under way
                while self.held.get(name) == "paused":
                    self.changed.wait()
                if self.held.get(name) == "closed":
                    stream.close()
                    return
            if not ready or not (chunk := os.read(stream.fileno(), 1 << 20)):
                if ready:
                    break
                continue
            with self.changed:
                if name == "stderr":
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

    def next_line(self, matches, skip):
        limit = time.monotonic() + DEADLINE
        with self.changed:
            while True:
                while self.cursor < len(self.lines):
                    self.cursor += 1
                    if matches(self.lines[self.cursor - 1]):
                        return
                    if not skip:
                        raise AssertionError(f"got {self.lines[self.cursor - 1][:200]!r}")
                if not self.changed.wait(limit - time.monotonic()):
                    raise AssertionError("nothing more within the deadline")

    def log(self):
        path = os.path.join(self.dir, "engine.log")
        return open(path, "rb").read().split(b"\n")[:-1] if os.path.exists(path) else []

    def act(self, op, arg):
        options = dict(w.split("=") for w in arg.split()) if op in ("exit", "gone") else {}
        within = float(options.get("within", DEADLINE * 1000)) / 1000
        self.mark = time.monotonic() if op in (">", ">raw", "close-stdin", "signal") else self.mark
        if op in (">", ">raw"):
            with contextlib.suppress(BrokenPipeError):
                self.proc.stdin.write(unescape(arg) + (b"\n" if op == ">" else b""))
                self.proc.stdin.flush()
        elif op in ("<", "<~"):
            expected, self.loose = unescape(arg), op == "<~"
            self.next_line(lambda line: re.search(arg.encode(), line) if self.loose else
                           line == expected, skip=self.loose)
        elif op in ("pause", "resume", "close-stdout"):
            with self.changed:
                self.held[arg or "stdout"] = {"pause": "paused", "resume": None}.get(op, "closed")
                self.changed.notify_all()
        elif op == "fill":  # a full standard error pipe, which the check takes off again
            fd = self.kept[1]
            if int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, bytes(4)), sys.byteorder):
                raise AssertionError("standard error is not empty, so its room is not known")
            self.filler = os.write(fd, b"f" * fcntl.fcntl(fd, fcntl.F_GETPIPE_SZ))
        elif op in ("close-stdin", "signal"):
            self.proc.send_signal(getattr(signal, "SIG" + arg)) if arg else self.proc.stdin.close()
        elif op == "exit":
            try:
                status = self.proc.wait(within)
            except subprocess.TimeoutExpired:
                raise AssertionError(f"still running {within} s after the last step")
            took = (time.monotonic() - self.mark) * 1000
            if took < float(options.get("after", 0)) or status != 0:
                raise AssertionError(f"ended with {status} after {took:.0f} ms")
            self.release()
            with self.changed:  # what a GUI that stopped reading left is not looked at
                self.held = {name: "closed" for name in self.held if self.held[name]}
                self.changed.notify_all()
            [reader.join(DEADLINE) for reader in self.readers]
            if not self.loose and "stdout" not in self.held and self.cursor < len(self.lines):
                raise AssertionError(f"more output: {self.lines[self.cursor][:200]!r}")
        elif op == "gone":  # under Wine too: a Windows process is a process here as well
            # With but=filter, once the engine is known to have started: it logs that first.
            while (pids := [pid for pid in session(f"KESTROWAN_TEST_DIR={self.dir}".encode())
                            if options.get("but") != "filter" or pid != self.proc.pid]) or (
                    options.get("but") == "filter" and not self.log()):
                if time.monotonic() > self.mark + within:
                    for pid in pids:
                        with contextlib.suppress(OSError):
                            os.kill(pid, signal.SIGKILL)
                    raise AssertionError(f"processes {pids} of the case still running")
                time.sleep(0.01)
        elif op not in ("stderr", "received", "argv", "log", "gone"):
            raise AssertionError("unknown step " + op)

    def check(self):
        steps = [(op, unescape(self.expand(arg))) for op, arg in self.steps]
        ops = {op for op, _ in steps}
        log = self.log()
        received = [line for op, arg in steps if op == "received" for line in arg.split(b"|")]
        argv = [shlex.split(arg.decode()) for op, arg in steps if op == "argv"]
        logged = [l for op, arg in steps if op == "log" and arg for l in arg.split(b"|")]
        if (received and [line for line in log if not line.startswith(b"#")] != received) or (
                argv and [line[5:].decode() for line in log if line.startswith(b"#arg ")] != argv[0]) \
                or not set(logged) <= set(log):
            raise AssertionError(f"the engine's log: {log}")
        # The error line: in Latin-1 with CR LF from the Windows build; any code unless given.
        want = ([arg.decode() for op, arg in steps if op == "stderr" and arg] + [""])[0]
        code = "" if want.startswith("FEHLER ") else r"FEHLER -?\d+; "
        pattern = (re.escape("info string Kestrowan: ") + code + re.escape(want) +
                   ("\r\n" if WINE else "\n")).encode("latin-1" if WINE else "utf-8")
        # A filter ended by a signal may have seen its engine end first.
        filler, self.stderr = self.stderr[:self.filler], self.stderr[self.filler:]
        if ("signal" not in ops) and (filler != b"f" * self.filler or
                                      not re.fullmatch(pattern if want else b"", self.stderr)):
            raise AssertionError(f"standard error {self.stderr!r}")

    def run(self):
        for op, arg in self.steps:
            if op in SETUP and (skipped := self.setup(op, arg)):
                return skipped
        self.start({op for op, _ in self.steps})
        try:
            for number, (op, arg) in enumerate(self.steps, 1):
                try:
                    None if op in SETUP else self.act(op, arg)
                except AssertionError as failure:
                    raise AssertionError(f"step {number} ({op} {arg[:80]}): {failure}")
            self.act("gone", "")
            self.proc.wait(DEADLINE)
            self.release()
            self.check()
        finally:
            self.proc.kill() if RUNNING.pop(id(self)).poll() is None else None
            shutil.rmtree(self.dir, ignore_errors=True)


def run_case(name, steps):
    try:
        result = Case(steps).run() or "ok"
    except Exception as failure:
        if os.environ.get("KESTROWAN_FAIL_FAST") == "1":
            print(f"{name}: FAILED: {failure}\n0 passed, 1 failed\n", end="", flush=True)
            [proc.kill() for proc in list(RUNNING.values())]
            os._exit(1)
        result = "FAILED: " + str(failure)
    # One write per line: print() writes the line feed apart, and the pool's threads would run
    # their lines together.
    print(f"{name}: {result}\n", end="", flush=True)
    return result.split(":")[0]


def main():
    cases = [case for path in sys.argv[1:] for case in parse(path)]
    # Cases that time the filter run after the others, one at a time, on a quiet machine.
    alone = [case for case in cases if ("alone", "") in case[1]]
    with ThreadPoolExecutor(int(os.environ.get("KESTROWAN_JOBS", "4"))) as pool:
        results = list(pool.map(lambda case: run_case(*case), [c for c in cases if c not in alone]))
    results += [run_case(*case) for case in alone]
    print(f"{results.count('ok')} passed, {results.count('FAILED')} failed, "
          f"{results.count('skipped')} skipped")
    return 1 if "FAILED" in results else 0


if __name__ == "__main__":
    sys.exit(main())
