#!/usr/bin/env python3
"""The host's side of tests/kernel/ftdi-qemu.sh: the simulated device, the guest's QEMU and the
cable.

Starts rzt-sim with planted data, starts QEMU with an emulated FTDI converter (usb-serial) whose
serial line is the device's pseudo-terminal, and then does what the checks in the guest ask on
the guest's second serial port, one line each, answered with one line ("ok ..." or "fail ..."):

  plug                    the device switched on, the converter plugged in (QMP device_add)
  unplug                  the converter pulled out (QMP device_del, once QEMU reports it gone);
                          the device sends nothing more: no cable
  mark                    from here on count what the device receives
  first-probe             ms from the last plug to the device's first "?"
  seen L                  whether the letter L arrived since the mark ("ok" or "fail")
  await L                 waits for the letter L since the mark
  link-checks N           waits for N+1 "?" since the mark; the N gaps between them in ms
  pull-after L S          S seconds after the letter L arrived since the mark, pulled out

Afterwards reads QEMU's trace for the line settings in force at each byte the device received,
as the guest's driver set them. A reference job (/host/reference.sh) and its CPU time here
(/host/reference-host-ms) go to the guest before it starts. Figures go to
standard output as "figure NAME VALUE" lines, faults as "FAIL ..." lines; the exit status is
the guest's (its /host/status) or 1.
"""

import argparse
import atexit
import json
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import planted_device  # noqa: E402

# The reference job, run here and in the guest (tests/kernel/ftdi-guest.sh): plain C code, no
# instructions that one CPU has and another lacks.
REFERENCE = 'for i in 1 2 3 4; do gzip -9 -c <"$1"; done >/dev/null'
WAIT = 90  # seconds: a generous bound for anything the guest, run under TCG, waits for


class Device:
    """rzt-sim, and what it received, each letter with the host's monotonic time it was read."""

    def __init__(self, sim, folder):
        files = planted_device.write(folder)
        args = [sim, "--verbose"] + [a for name, path in files.items() for a in (f"--{name}-file", path)]
        self.log = open(os.path.join(folder, "sim.log"), "w")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, encoding="latin-1")
        self.pty = self.proc.stdout.readline().strip()
        if not self.pty.startswith("/dev/"):
            raise SystemExit(f"rzt-sim did not start: {self.proc.stderr.read()}")
        self.letters = []  # (monotonic time, wall-clock time, letter)
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        received = re.compile(r'^rzt-sim: [0-9.]+ received "(.*)"$')
        for line in self.proc.stderr:
            at, wall = time.monotonic(), time.time()
            self.log.write(f"{at:.3f} {line}")
            self.log.flush()
            m = received.match(line.rstrip("\n"))
            if m:
                with self.changed:
                    self.letters += [(at, wall, c) for c in m.group(1)]
                    self.changed.notify_all()

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_for(self, letter, since, count=1, timeout=WAIT):
        """The times of the first COUNT LETTERs from index SINCE on; None past the timeout."""
        end = time.monotonic() + timeout
        with self.changed:
            while True:
                times = [at for at, _, c in self.letters[since:] if c == letter]
                if len(times) >= count:
                    return times[:count]
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)

    def position(self):
        with self.changed:
            return len(self.letters)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()


class Qmp:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.file = self.sock.makefile("rw")
        self.events = []
        self._next()  # greeting
        self.call("qmp_capabilities")

    def _next(self):
        line = self.file.readline()
        if not line:
            raise EOFError("QMP closed")
        return json.loads(line)

    def call(self, command, **arguments):
        self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            reply = self._next()
            if "event" in reply:
                self.events.append(reply)
            elif "error" in reply:
                raise RuntimeError(f"{command}: {reply['error'].get('desc')}")
            else:
                return reply.get("return")

    def await_event(self, name, device):
        self.sock.settimeout(WAIT)
        try:
            while True:
                for e in self.events:
                    if e["event"] == name and e.get("data", {}).get("device") == device:
                        self.events.remove(e)
                        return
                self.events.append(self._next())
        finally:
            self.sock.settimeout(None)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--sim", required=True)
    p.add_argument("--share", required=True, help="the folder the guest mounts as /host")
    p.add_argument("--kernel", required=True)
    p.add_argument("--initrd", required=True)
    p.add_argument("--memory", default="2048")
    p.add_argument("--timeout", type=int, default=600)
    a = p.parse_args()
    share = a.share
    # The CPU time of a reference job here, for the guest to measure its own against: TCG runs
    # the guest's code many times slower than this machine runs it.
    job = os.path.join(share, "reference.sh")
    with open(job, "w") as f:
        f.write(REFERENCE + "\n")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(["sh", job, os.path.join(share, "rzt.deb")], check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    reference = (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1000
    with open(os.path.join(share, "reference-host-ms"), "w") as f:
        f.write(f"{reference:.0f}\n")
    print(f"figure reference-job-host {reference:.0f} ms", flush=True)
    device = Device(a.sim, share)
    # Nothing is left running, however this ends.
    atexit.register(device.stop)
    print(f"device on {device.pty}", flush=True)

    # Sockets in a short path of their own: a socket's path has a bound of 107 bytes.
    sockets = tempfile.mkdtemp(prefix="rzt-ftdi-qemu.")
    qmp_path, ctl_path = os.path.join(sockets, "qmp"), os.path.join(sockets, "ctl")
    trace = os.path.join(share, "qemu-trace.log")
    for path in (trace, os.path.join(share, "status")):
        if os.path.exists(path):
            os.remove(path)
    qemu = subprocess.Popen([
        "qemu-system-x86_64", "-machine", "q35", "-accel", "tcg", "-cpu", "max", "-smp", "1",
        "-m", a.memory, "-nic", "none", "-display", "none", "-no-reboot", "-nodefaults",
        "-kernel", a.kernel, "-initrd", a.initrd,
        "-append", "console=ttyS0 rdinit=/init panic=-1 loglevel=4",
        "-chardev", f"file,id=con,path={os.path.join(share, 'console.log')}", "-serial", "chardev:con",
        "-chardev", f"socket,id=ctl,path={ctl_path},server=on,wait=off", "-serial", "chardev:ctl",
        "-qmp", f"unix:{qmp_path},server=on,wait=off",
        "-fsdev", f"local,id=host,path={share},security_model=none",
        "-device", "virtio-9p-pci,fsdev=host,mount_tag=host",
        "-device", "qemu-xhci,id=xhci",
        # The converter's serial line: the device's pseudo-terminal.
        "-chardev", f"serial,id=line,path={device.pty}",
        "-trace", "enable=usb_serial_set_*", "-D", trace, "-msg", "timestamp=on",
    ], stdin=subprocess.DEVNULL)
    atexit.register(lambda: qemu.poll() is None and qemu.kill())
    killer = threading.Timer(a.timeout, qemu.kill)
    killer.daemon = True
    killer.start()
    for _ in range(300):
        if os.path.exists(qmp_path) and os.path.exists(ctl_path):
            break
        time.sleep(0.1)
    qmp = Qmp(qmp_path)
    ctl = socket.socket(socket.AF_UNIX)
    ctl.connect(ctl_path)
    lines = ctl.makefile("rw", encoding="latin-1", newline="\n")

    plugged_at, mark = 0.0, 0

    def pull():
        start = time.monotonic()
        qmp.call("device_del", id="ftdi")
        qmp.await_event("DEVICE_DELETED", "ftdi")
        # No cable: nothing the device still had to send reaches the computer.
        device.command("off")
        return (time.monotonic() - start) * 1000

    def answer(request):
        nonlocal plugged_at, mark
        word, *rest = request.split()
        if word == "plug":
            device.command("on")
            mark = device.position()
            plugged_at = time.monotonic()
            qmp.call("device_add", driver="usb-serial", id="ftdi", bus="xhci.0", chardev="line")
            return "ok"
        if word == "unplug":
            return f"ok {pull():.0f}"
        if word == "mark":
            mark = device.position()
            return "ok"
        if word == "first-probe":
            times = device.wait_for("?", mark)
            return f"ok {(times[0] - plugged_at) * 1000:.0f}" if times else "fail no ? within bound"
        if word == "seen":
            return "ok" if device.wait_for(rest[0], mark, timeout=0) else f"fail no {rest[0]}"
        if word == "await":
            return "ok" if device.wait_for(rest[0], mark) else f"fail no {rest[0]}"
        if word == "link-checks":
            n = int(rest[0])
            times = device.wait_for("?", mark, n + 1)
            if not times:
                return "fail too few ?"
            return "ok " + " ".join(f"{(b - a_) * 1000:.0f}" for a_, b in zip(times, times[1:]))
        if word == "pull-after":
            times = device.wait_for(rest[0], mark)
            if not times:
                return f"fail no {rest[0]}"
            time.sleep(max(0.0, times[0] + float(rest[1]) - time.monotonic()))
            return f"ok {pull():.0f}"
        return f"fail unknown request {request}"

    try:
        for request in lines:
            request = request.strip()
            if not request:
                continue
            try:
                reply = answer(request)
            except (RuntimeError, TimeoutError, OSError) as e:
                reply = f"fail {e}"
            lines.write(reply + "\n")
            lines.flush()
    except (OSError, ValueError):
        pass
    status = qemu.wait()
    killer.cancel()
    device.stop()
    shutil.rmtree(sockets, ignore_errors=True)
    if status != 0:
        print(f"FAIL QEMU ended with status {status} (or was stopped after {a.timeout} s)")

    failed = status != 0
    # The line settings in force at each byte the device received, as the guest's ftdi_sio gave
    # them to the converter (QEMU's usb-serial trace, in wall-clock time). The driver sets 9600
    # at every open and the port goes back to it at every close; what counts is what the
    # program's bytes went out with.
    changes = []
    setting = re.compile(r"^\d+@(\d+\.\d+):usb_serial_set_(baud|data) .*?"
                         r"(?:baud rate (\d+)|parity (\S), data bits (\d+), stop bits (\d+))")
    with open(trace, errors="replace") as f:
        for line in f:
            m = setting.match(line)
            if m:
                value = m.group(3) if m.group(2) == "baud" else f"{m.group(5)}{m.group(4)}{m.group(6)}"
                changes.append((float(m.group(1)), m.group(2), value))
    seen = {}
    for _, wall, _ in device.letters:
        now = {"baud": None, "data": None}
        for at, kind, value in changes:
            if at <= wall:
                now[kind] = value
        key = f"{now['baud']} {now['data']}"
        seen[key] = seen.get(key, 0) + 1
    print("figure line-settings " + ", ".join(f"{k} for {n} bytes" for k, n in seen.items()))
    if list(seen) != ["19200 8N1"]:
        print("FAIL the bytes the device received did not all go out at 19200 8N1")
        failed = True
    try:
        with open(os.path.join(share, "status")) as f:
            guest = f.read().strip()
    except OSError:
        guest = "none"
    if guest != "0":
        print(f"FAIL the guest's checks ended with status {guest}")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
