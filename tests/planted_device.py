#!/usr/bin/env python3
"""The simulated device's planted data for the end-to-end runs: spaces around some lines (which a
saved file does not keep), a tab at a line's end (which it keeps) and Latin-1 bytes.

    python3 tests/planted_device.py FOLDER

writes header.txt, timer.txt, rpm.txt and chrono.txt (the files rzt-sim takes), all.txt (the three
kinds in the order "A" sends them) and, for each kind, NAME.expected: what "&Save" and --output
write for it, each line without surrounding spaces and ended by CR LF."""
import os
import sys

HEADER = b"RZT-3000,SN 004211,V2.05\r\n  Kind,No.,Date,Time,Reading,Unit \r\n"


def lines(kind, reading):
    text = ""
    for i in range(1, 41):
        pad = " " * (i % 4)
        text += f"{pad}{kind},{i:04d},02/03/2024,09:{i % 60:02d}:{(7 * i) % 60:02d},{reading(i)}{pad}\r\n"
    return text.encode("latin-1")


def write(folder):
    """Writes the files into FOLDER; returns {name: path} of those rzt-sim takes."""
    kinds = {"timer": lines("T", lambda i: f"{1.5 + 0.25 * i:.3f},s"),
             "rpm": lines("R", lambda i: f"{800 + 37 * i},rpm"),
             "chrono": lines("C", lambda i: f"{30 + i * 0.7:.1f},m/s,{i % 30}\u00b0C\t")}
    kinds["all"] = kinds["timer"] + kinds["rpm"] + kinds["chrono"]
    path = lambda name, ext: os.path.join(folder, name + ext)
    with open(path("header", ".txt"), "wb") as f:
        f.write(HEADER)
    for name, text in kinds.items():
        with open(path(name, ".txt"), "wb") as f:
            f.write(text)
        sent = (HEADER + text).split(b"\r\n")[:-1]
        with open(path(name, ".expected"), "wb") as f:
            f.write(b"".join(line.strip(b" ") + b"\r\n" for line in sent))
    return {name: path(name, ".txt") for name in ("header", "timer", "rpm", "chrono")}


if __name__ == "__main__":
    write(sys.argv[1])
