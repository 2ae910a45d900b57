#!/usr/bin/python3
"""A stand-in for a screen reader while the retrieval window downloads: an AT-SPI client that
listens to the program's text and caret events and, as a reader presenting new text would,
reads the line at the caret after each one. Once the text has been quiet for a second it reads
the whole text once. On SIGTERM it prints what it heard and how long the program took to answer.

    reader_client.py [APPLICATION-NAME]   (none: every application)

Prints "listening" when its listeners are registered.
"""

import signal
import sys
import time

import pyatspi
from gi.repository import GLib

app_name = sys.argv[1] if len(sys.argv) > 1 else ""
heard = {"insert": 0, "delete": 0, "caret": 0}
inserted_chars = 0
calls = []  # seconds each query took, the program's answer included
whole = None  # (characters, seconds) of the one read of the whole text
quiet_timer = None
text_object = None


def timed(call):
    start = time.monotonic()
    result = call()
    calls.append(time.monotonic() - start)
    return result


def ours(event):
    if not app_name:
        return True
    try:
        return event.host_application.name == app_name
    except Exception:
        return False


def read_all():
    global quiet_timer, whole
    quiet_timer = None
    if text_object is None or whole is not None:
        return False
    start = time.monotonic()
    text = text_object.getText(0, -1)
    whole = (len(text), time.monotonic() - start)
    print(f"reader: read the whole text, {whole[0]} characters, in {whole[1]:.3f} s", flush=True)
    return False


def on_event(event):
    global inserted_chars, quiet_timer, text_object
    if not ours(event):
        return
    kind = event.type
    if kind.startswith("object:text-changed:insert"):
        heard["insert"] += 1
        inserted_chars += event.detail2
    elif kind.startswith("object:text-changed:delete"):
        heard["delete"] += 1
    elif kind.startswith("object:text-caret-moved"):
        heard["caret"] += 1
    try:
        text = event.source.queryText()
    except NotImplementedError:
        return
    if text_object is None:
        states = event.source.getState()
        print(f"reader: the text is a '{event.source.getRoleName()}', "
              f"read-only: {states.contains(pyatspi.STATE_READ_ONLY)}, "
              f"editable: {states.contains(pyatspi.STATE_EDITABLE)}, "
              f"multi-line: {states.contains(pyatspi.STATE_MULTI_LINE)}", flush=True)
    text_object = text
    # What a reader does to present the change: where the caret is, and its line.
    caret = timed(lambda: text.caretOffset)
    timed(lambda: text.getTextAtOffset(caret, pyatspi.TEXT_BOUNDARY_LINE_START))
    if quiet_timer is not None:
        GLib.source_remove(quiet_timer)
    quiet_timer = GLib.timeout_add(1000, read_all)


def finish(*_):
    calls.sort()
    worst = calls[-1] * 1000 if calls else 0
    median = calls[len(calls) // 2] * 1000 if calls else 0
    print(f"reader: heard {heard['insert']} insertions ({inserted_chars} characters), "
          f"{heard['delete']} deletions, {heard['caret']} caret moves; {len(calls)} queries, "
          f"median {median:.1f} ms, worst {worst:.1f} ms", flush=True)
    pyatspi.Registry.stop()
    return False


for name in ("object:text-changed:insert", "object:text-changed:delete", "object:text-caret-moved"):
    pyatspi.Registry.registerEventListener(on_event, name)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, finish)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, finish)
print("listening", flush=True)
pyatspi.Registry.start()
