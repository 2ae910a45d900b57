#!/usr/bin/python3
"""Reads the real program through AT-SPI, as a screen reader does, against the simulated device.

Run by real-client.sh inside a private D-Bus session on a virtual display. Starts the
accessibility bus, the simulated device and the program, then: finds the retrieval window by
its title and role, presses "All Data" through its accessible action, follows the status line's
announcements, reads the downloaded text through the Text interface and compares it with what
the window shows, and reads "Status:" together with its field. Prints every check and what it
read; exits non-zero on the first failure.
"""

import os
import subprocess
import sys
import tempfile
import time

RETRIEVAL_TITLE = "ZORV - RZT Software / Retrive Data  -  Version "
SEARCH_TITLE = "ZORV - RZT Software / Device Search  -  Version "
HEADER = b"RZT-3000 DATA DUMP\r\nUNIT,SERIAL\r\n"
# Readings with a Latin-1 degree sign, and a last line without its line end, which the window
# does not show.
DATA = (b"T,1,00:01:02.345\r\nT,2,00:01:03.120\r\nR,1,8450 RPM\r\n"
        b"C,1,12.50 s,21\xb0C\r\nC,2,12.75 s,22\xb0C\r\nunfinished")


def check(what, ok, read):
    print(("PASS " if ok else "FAIL ") + what + ": " + read, flush=True)
    if not ok:
        raise SystemExit(1)


def shown_text(raw):
    """The text the window shows after a download: each CR LF a line break, nothing after the
    last one."""
    end = raw.rfind(b"\r\n")
    return raw[:end].replace(b"\r\n", b"\n").decode("latin-1") if end >= 0 else ""


def main(rzt, sim):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Gio, GLib

    procs = [subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])]
    folder = tempfile.TemporaryDirectory(prefix="rzt-a11y-")
    try:
        # The library connects to the accessibility bus when it is loaded: only once the
        # launcher has taken its name on the session bus.
        loop = GLib.MainLoop()
        up = []
        watch = Gio.bus_watch_name(Gio.BusType.SESSION, "org.a11y.Bus",
                                   Gio.BusNameWatcherFlags.NONE,
                                   lambda *_: (up.append(True), loop.quit()), None)
        timeout = GLib.timeout_add_seconds(30, lambda: loop.quit() or True)
        loop.run()
        Gio.bus_unwatch_name(watch)
        GLib.source_remove(timeout)
        check("accessibility bus", bool(up), "org.a11y.Bus on the private session bus")
        import pyatspi

        work = folder.name
        files = {"header": HEADER, "all": DATA}
        for name, content in files.items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(content)
        device = subprocess.Popen([sim, "--header-file", os.path.join(work, "header"),
                                   "--all-file", os.path.join(work, "all"), "--fast",
                                   # answers after a second, as a user pressing OPTN, YES
                                   "--probes", "10"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        procs.append(device)
        port = device.stdout.readline().decode().split()[-1]
        check("simulated device", port.startswith("/dev/"), port)

        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(work, "config"))
        program = subprocess.Popen([rzt, "--port", port], env=env)
        procs.append(program)

        announced = []

        def heard(event):
            # Qt 6.4 sends a name change without the new name (the event carries an object
            # reference), so the name is read from the object, as a screen reader does. An
            # object may be gone by the time its event is read.
            try:
                role, name = event.source.getRole(), event.source.name
            except Exception:
                role, name = None, ""
            said = event.any_data if event.type.startswith("object:text-changed") else name
            announced.append((event.type, role, said))

        for kind in ("object:property-change:accessible-name", "object:state-changed:busy",
                     "object:text-changed:insert"):
            pyatspi.Registry.registerEventListener(heard, kind)

        def wait_for(what, found, seconds):
            """Runs the event loop (events arrive meanwhile) until found() gives something,
            looking every quarter of a second."""
            loop = GLib.MainLoop()
            result = [None]

            def look(*_):
                try:
                    result[0] = found()
                except Exception:  # an object that went away while being read
                    result[0] = None
                if result[0] is not None:
                    loop.quit()
                return True

            look()
            if result[0] is None:
                sources = [GLib.timeout_add(250, look),
                           GLib.timeout_add_seconds(seconds, lambda: loop.quit() or True)]
                loop.run()
                for source in sources:
                    GLib.source_remove(source)
            if result[0] is None:
                check(what, False, "not within %d s" % seconds)
            return result[0]

        def application():
            desktop = pyatspi.Registry.getDesktop(0)
            for app in desktop:
                if app is not None and app.name == "rzt":
                    return app
            return None

        def showing(acc):
            return acc.getState().contains(pyatspi.STATE_SHOWING)

        def program_on_bus():
            return "ended" if program.poll() is not None else application()

        app = wait_for("program on the accessibility bus", program_on_bus, 60)
        if app == "ended":
            check("program on the accessibility bus", False,
                  "the program ended with exit code %s" % program.returncode)
        check("program on the accessibility bus", True, "application '%s'" % app.name)

        def search_window():
            for window in application():
                if window.name.startswith(SEARCH_TITLE):
                    return window
            return None

        search = wait_for("search window", search_window, 30)
        check("search window found by title and role", search.getRole() == pyatspi.ROLE_FRAME,
              "%s '%s'" % (search.getRoleName(), search.name))
        logo = pyatspi.findDescendant(search, lambda a: a is not None and a.name == "ZORV RZT")
        check("logo", logo is not None and logo.getRole() == pyatspi.ROLE_IMAGE,
              "%s '%s'" % (logo.getRoleName(), logo.name) if logo else "none")

        def retrieval_window():
            for window in application():
                if window.name.startswith(RETRIEVAL_TITLE) and showing(window):
                    return window
            return None

        window = wait_for("retrieval window", retrieval_window, 60)
        check("retrieval window found by title and role", window.getRole() == pyatspi.ROLE_FRAME,
              "%s '%s'" % (window.getRoleName(), window.name))

        # Roles are compared by their constants: the names a release gives them change (the
        # push button is "push button" in at-spi2-core 2.46 and "button" in 2.56).
        def named(role, name):
            return pyatspi.findDescendant(
                window, lambda a: a is not None and a.getRole() == role and a.name == name)

        # What the search said on its way, without the focus moving: its busy indicator. Its
        # first state comes as the program starts, before it can know who listens.
        searched = []
        for kind, role, said in announced:
            if role == pyatspi.ROLE_PROGRESS_BAR and kind.endswith("accessible-name") and said not in searched:
                searched.append(said)
        check("search states announced to the client",
              searched[-2:] == ["Waiting for the device to answer", "Device Found"],
              "progress bar: " + ", ".join("'%s'" % s for s in searched))

        def focused():
            found = pyatspi.findDescendant(
                window, lambda a: a is not None and a.getState().contains(pyatspi.STATE_FOCUSED))
            return found if found is not None and showing(found) else None

        def describe(acc):
            return "%s '%s'" % (acc.getRoleName(), acc.name) if acc is not None else "nothing"

        has_focus = wait_for("focus in the retrieval window", focused, 10)
        check("focus after the hand-over", has_focus.name == "Timer Only", describe(has_focus))

        caption = named(pyatspi.ROLE_LABEL, "Status:")
        check("caption 'Status:'", caption is not None, "label 'Status:'")

        def relation_targets(acc, kind):
            return [r.getTarget(i) for r in acc.getRelationSet() if r.getRelationType() == kind
                    for i in range(r.getNTargets())]

        fields = relation_targets(caption, pyatspi.RELATION_LABEL_FOR)
        check("'Status:' labels its field", len(fields) == 1,
              ", ".join("%s '%s'" % (f.getRoleName(), f.name) for f in fields) or "nothing")
        status = fields[0]
        labels = relation_targets(status, pyatspi.RELATION_LABELLED_BY)
        check("the field is labelled by 'Status:'", [l.name for l in labels] == ["Status:"],
              ", ".join(l.name for l in labels) or "nothing")
        check("status line reads", status.name == "Ready",
              "%s %s (%s)" % (caption.name, status.name, status.getRoleName()))

        button = named(pyatspi.ROLE_PUSH_BUTTON, "All Data")
        check("button 'All Data'", button is not None, "push button 'All Data'")
        action = button.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        check("'All Data' can be pressed", "Press" in names, "actions " + ", ".join(names))
        announced.clear()
        action.doAction(names.index("Press"))

        wait_for("status 'Data Received'",
                 lambda: True if status.name == "Data Received" else None, 60)
        told = [a for a in announced if a[0] == "object:property-change:accessible-name"
                and a[1] == status.getRole()]
        check("status changes announced to the client",
              [a[2] for a in told] == ["Loading Data", "Data Received"],
              "; ".join("%s from %s: '%s'" % a for a in told))
        check("read together", True, "%s %s" % (caption.name, status.name))
        has_focus = focused()
        check("focus after the download", has_focus is not None and has_focus.name == "Timer Only",
              describe(has_focus))

        expected = shown_text(HEADER + DATA)

        def text_view():
            def is_view(a):
                if a is None or a.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_STATUS_BAR,
                                                 pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_FRAME):
                    return False
                try:
                    a.queryText()
                    return True
                except NotImplementedError:
                    return False
            return pyatspi.findDescendant(window, is_view)

        view = text_view()
        check("text view with a Text interface", view is not None,
              "%s '%s'" % (view.getRoleName(), view.name) if view else "none")
        text = view.queryText()
        # The view draws, and indexes, what arrived a few times a second: right after the
        # status line changed it may still show the text before the line ends were rewritten.
        clock = time.monotonic()
        wait_for("the view shows the rewritten text",
                 lambda: True if text.characterCount == len(expected) else None, 10)
        check("the view shows the rewritten text", True,
              "%.0f ms after 'Data Received' was read" % ((time.monotonic() - clock) * 1000))
        read = text.getText(0, -1)
        check("character count", text.characterCount == len(expected),
              "%d characters" % text.characterCount)
        check("downloaded text equals what the window shows", read == expected,
              "%d lines, first %r, last %r" % (read.count("\n") + 1, read.split("\n")[0],
                                                read.split("\n")[-1]))
        inserted = [a for a in announced
                    if a[0] == "object:text-changed:insert" and a[1] == view.getRole()]
        check("the view told the client of the new text", len(inserted) >= 1,
              "%d insertions, %d characters" % (len(inserted), sum(len(a[2]) for a in inserted)))
        line = text.getTextAtOffset(len(HEADER) + 3, pyatspi.TEXT_BOUNDARY_LINE_START)
        check("line at an offset", line[0].rstrip("\n") == expected.split("\n")[2],
              "%r at %d..%d" % (line[0], line[1], line[2]))

        exit_button = named(pyatspi.ROLE_PUSH_BUTTON, "Exit")
        exit_action = exit_button.queryAction()
        exit_action.doAction([exit_action.getName(i)
                              for i in range(exit_action.nActions)].index("Press"))
        try:
            code = program.wait(30)
        except subprocess.TimeoutExpired:
            code = None
        # Its exit code is left alone: a sanitizer build reports its findings through it.
        check("Exit through its action ends the program", code is not None, "exit code %s" % code)
    finally:
        for proc in reversed(procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
        folder.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
