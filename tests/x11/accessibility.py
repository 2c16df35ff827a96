#!/usr/bin/python3
"""The built window program as a screen reader meets it, at 200 % on a 1280x800 screen.

    accessibility.py PROGRAM CASE

CASE is refusal, replace (the Save dialog, the replace question, the notice), completion or
failure. A private X server (Xvfb) and a private D-Bus session, whose AT-SPI bus the program's
Qt bridge joins; the windows are walked over AT-SPI with pyatspi and driven with xdotool.
At every stage the window must carry its role, its title as its name, its text exactly once
(no description repeating a label), and lie within the screen. Every wait polls against a
deadline (KESTROVA_X11_TIMEOUT seconds, default 120). KESTROVA_A11Y_DUMP=1 prints the tree
of each window; KESTROVA_A11Y_ORCA=FILE runs Orca in the session, its debug log into FILE;
KESTROVA_A11Y_SURVEY=1 reports failed checks and goes on; KESTROVA_A11Y_SHOTS=DIR saves the
screen at each stage.
"""
import ctypes
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SCREEN = (1280, 800)
NOTICE_TITLE = "Convert a Text File into a WAV Audio File"
NOTICE_TEXT = "Converting this text to WAV Audio. Please be patient. This may take a while..."
APPLICATION_TITLE = "Kestrova WAV Converter"
REFUSAL_TEXT = ("This program cannot be run outside of the main Kestrova Text-to-Speech "
                "Reader application")
VOICE = "eSpeak NG English (America)"
TIMEOUT = float(os.environ.get("KESTROVA_X11_TIMEOUT", "120"))


class Failure(Exception):
    pass


def fail(message):
    """KESTROVA_A11Y_SURVEY=1 reports a failed check and goes on, to walk an older build."""
    if os.environ.get("KESTROVA_A11Y_SURVEY"):
        print(f"check failed: {message}", file=sys.stderr)
    else:
        raise Failure(message)


def wait_for(what, condition):
    """The condition's first true value, polled until the deadline."""
    deadline = time.monotonic() + TIMEOUT
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"no {what} within {TIMEOUT:.0f} s")
        time.sleep(0.1)


def said(log, words, prefix=""):
    """How many lines of Orca's log have the words after the prefix."""
    if not os.path.exists(log):
        return 0
    with open(log, errors="replace") as lines:
        return sum(prefix in line and words in line[line.index(prefix) + len(prefix):]
                   for line in lines)


def heard(stage, words, times_before={}):
    """With Orca on, waits until it has spoken the words once more (two windows may share a
    title), so that keys come after its speech. times_before, shared by the calls, counts
    what was heard before."""
    log = os.environ.get("KESTROVA_A11Y_ORCA")
    if log:
        before = times_before.get(words, 0)
        try:
            times_before[words] = wait_for(
                f"speech of {stage}",
                lambda: max(0, said(log, words, "SPEECH OUTPUT: '") - before)) + before
        except Failure as silence:
            print(f"Orca: {silence}", file=sys.stderr)


def read_line(descriptor):
    text = b""
    while not text.endswith(b"\n"):
        chunk = os.read(descriptor, 256)
        if not chunk:
            break
        text += chunk
    os.close(descriptor)
    return text.decode().strip()


class Session:
    """Xvfb, a D-Bus session bus and, on demand, Orca; ended in reverse order."""

    def __init__(self):
        self.processes = []
        # The bus starts the AT-SPI bus and registry; orphaned when it ends, they are
        # reparented here rather than to an init that may never reap them (PR_SET_CHILD_SUBREAPER).
        ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)

    def start_all(self, scratch):
        # -noreset: a server that resets when its last client leaves refuses new ones meanwhile.
        # Each try names a display: a server that cannot have it (another holds its socket)
        # ends at once without writing its number, and the next is tried. Tests side by side
        # start at numbers spread by their process ids, so they seldom meet.
        display_file = os.path.join(scratch, "display")
        first = 100 + os.getpid() % 800
        for number in range(first, first + 40):
            if self.start_x_server(display_file, number):
                break
        else:
            raise Failure(f"no free display from :{first} on")
        os.environ["DISPLAY"] = f":{number}"

        def answers():
            return subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0
        wait_for("answer from the X server", answers)
        read_end, write_end = os.pipe()
        self.start(["dbus-daemon", "--session", "--nofork", f"--print-address={write_end}"],
                   write_end)
        os.close(write_end)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = read_line(read_end)
        os.environ["XDG_RUNTIME_DIR"] = os.path.join(scratch, "runtime")
        os.mkdir(os.environ["XDG_RUNTIME_DIR"], 0o700)
        orca_log = os.environ.get("KESTROVA_A11Y_ORCA")
        if orca_log:
            self.start_orca(scratch, orca_log)

    def start_orca(self, scratch, log):
        """Orca, its speech only in its debug log (no speech server), ready before the program."""
        preferences = os.path.join(scratch, "orca")
        os.mkdir(preferences)
        quiet = {"speechServerFactory": "none", "enableBraille": False, "enableSound": False,
                 "profile": ["Default", "default"]}
        with open(os.path.join(preferences, "user-settings.conf"), "w") as settings:
            json.dump({"general": quiet, "pronunciations": {}, "keybindings": {},
                       "profiles": {"default": quiet}}, settings)
        # Orca writes its log in blocks and loses the last at its end: its files are opened
        # line-buffered here, so the log is whole and can be waited on.
        line_buffered = ("import builtins, sys; plain = builtins.open; "
                         "builtins.open = lambda name, mode='r', *rest, **named: "
                         "plain(name, mode, 1) if mode == 'w' "
                         "else plain(name, mode, *rest, **named); "
                         "sys.argv[0] = '/usr/bin/orca'; "
                         "exec(compile(plain('/usr/bin/orca').read(), '/usr/bin/orca', 'exec'))")
        self.processes.append(subprocess.Popen(
            [sys.executable, "-c", line_buffered, "--replace", "-u", preferences,
             "--debug-file", log],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=dict(os.environ, HOME=scratch)))

        wait_for("Orca", lambda: said(log, "ORCA: Starting ATSPI registry."))

    def start_x_server(self, display_file, number):
        """Xvfb on the display numbered, True once it listens; False if it ended without."""
        with open(display_file, "w") as display:
            self.start(["Xvfb", f":{number}", "-displayfd", str(display.fileno()), "-screen", "0",
                        f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                       display.fileno())
        server = self.processes[-1]

        def ready_or_gone():
            with open(display_file) as display:
                return bool(display.read().strip()) or server.poll() is not None
        wait_for("X server (Xvfb)", ready_or_gone)
        with open(display_file) as display:
            if display.read().strip():
                return True
        self.processes.pop()
        return False

    def start(self, command, descriptor):
        self.processes.append(subprocess.Popen(command, pass_fds=[descriptor],
                                               stderr=subprocess.DEVNULL))

    def end(self):
        for process in reversed(self.processes):
            process.terminate()
            process.wait()

        def all_reaped():
            try:
                while os.waitpid(-1, os.WNOHANG)[0] != 0:
                    pass
            except ChildProcessError:
                return True
            return False
        try:
            wait_for("end of the AT-SPI bus", all_reaped)
        except Failure as failure:
            print(failure, file=sys.stderr)


class Program:
    def __init__(self, program, arguments, work, scratch):
        environment = {key: value for key, value in os.environ.items()
                       if key not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        environment.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_SCALE_FACTOR="2",
                           XDG_CONFIG_HOME=os.path.join(scratch, "config"))
        # Its output into a file: a pipe read only at the end could fill and stall it.
        self.output = os.path.join(scratch, "output.log")
        with open(self.output, "w") as output:
            self.process = subprocess.Popen([program] + arguments, cwd=work, env=environment,
                                            stdout=output, stderr=subprocess.STDOUT)

    def application(self):
        for application in pyatspi.Registry.getDesktop(0):
            if application is not None and application.get_process_id() == self.process.pid:
                return application
        return None

    def window(self, role, name, older_role=None):
        """The program's showing top-level window of that role and name, once it has one.
        A survey takes one of older_role too, the role an older build gave it."""
        roles = {role}
        if older_role and os.environ.get("KESTROVA_A11Y_SURVEY"):
            roles.add(older_role)

        def showing():
            application = self.application()
            for window in application or []:
                if (window is not None and window.name == name and
                        window.getRoleName() in roles and
                        window.getState().contains(pyatspi.STATE_SHOWING)):
                    return window
            return None
        window = wait_for(f"{role} \"{name}\"", showing)
        if window.getRoleName() != role:
            fail(f"\"{name}\" is a {window.getRoleName()}, not a {role}")
        return window

    def finish(self):
        deadline = time.monotonic() + TIMEOUT
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                raise Failure("the program did not end")
            time.sleep(0.1)
        with open(self.output, errors="replace") as output:
            return self.process.returncode, output.read()


def nodes(accessible):
    yield accessible
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            yield from nodes(child)


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def dump(stage, window):
    if os.environ.get("KESTROVA_A11Y_DUMP"):
        print(f"--- {stage}")
        for node in nodes(window):
            if node.name or node.description or node is window:
                print(f"{node.getRoleName()} | {node.name!r} | {node.description!r}")


def check_window(stage, window, texts):
    """texts: the words the window shows, each to be spoken once, by a label or the window."""
    dump(stage, window)
    all_nodes = list(nodes(window))
    labels = [node.name for node in all_nodes if node.getRoleName() == "label" and node.name]
    descriptions = [node.description for node in all_nodes if node.description]
    spoken = [window.name] + labels + descriptions
    for text in texts:
        holders = [string for string in spoken if text in string]
        if len(holders) != 1:
            fail(f"{stage}: \"{text}\" is exposed {len(holders)} times: {holders}")
    twice = {string for string in spoken if spoken.count(string) > 1}
    if twice:
        fail(f"{stage}: exposed twice: {sorted(twice)}")
    check_on_screen(stage, window.name)
    heard(stage, window.name)
    shots = os.environ.get("KESTROVA_A11Y_SHOTS")
    if shots:
        subprocess.run(["import", "-window", "root",
                        os.path.join(shots, stage.replace(" ", "-") + ".png")], check=True)


def check_on_screen(stage, title):
    """The X window (device pixels, not AT-SPI's scaled ones) lies within the screen."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                           capture_output=True, text=True).stdout.split()
    if not found:
        fail(f"{stage}: no X window \"{title}\"")
        return
    for window in found:
        shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                               capture_output=True, text=True).stdout
        geometry = dict(line.split("=", 1) for line in shell.split())
        x, y, width, height = (int(geometry[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))
        if x < 0 or y < 0 or x + width > SCREEN[0] or y + height > SCREEN[1]:
            fail(f"{stage}: {width}x{height}+{x}+{y} is not within the screen")


def check_inside(stage, window, role, name):
    """The child of that role and name is whole inside its window (AT-SPI's coordinates)."""
    children = [node for node in nodes(window)
                if node.getRoleName() == role and node.name == name]
    if len(children) != 1:
        fail(f"{stage}: {len(children)} {role} \"{name}\"")
        return
    wx, wy, ww, wh = extents(window)
    x, y, width, height = extents(children[0])
    if x < wx or y < wy or x + width > wx + ww or y + height > wy + wh:
        fail(f"{stage}: {role} \"{name}\" at {width}x{height}+{x}+{y} is outside "
                      f"the window at {ww}x{wh}+{wx}+{wy}")


def key(*keys):
    subprocess.run(["xdotool", "key", "--delay", "40", *keys], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "15", text], check=True)


def focused_title():
    return subprocess.run(["xdotool", "getwindowfocus", "getwindowname"],
                          capture_output=True, text=True).stdout.strip()


def save_as(program, name):
    dialog = program.window("dialog", "Save As")
    check_window("Save dialog", dialog, ["Save As"])
    for role, label in (("push button", "Cancel"), ("push button", "Save"),
                        ("label", "Files of type:"), ("label", "File name:")):
        check_inside("Save dialog", dialog, role, label)
    # A label that labels nothing is read out as the dialog's own text.
    for label in nodes(dialog):
        if label.getRoleName() == "label" and label.name and not any(
                relation.getRelationType() == pyatspi.RELATION_LABEL_FOR
                for relation in label.getRelationSet()):
            fail(f"Save dialog: the label \"{label.name}\" labels nothing")
    wait_for("focused Save dialog", lambda: focused_title() == "Save As")
    type_text(name)
    key("Return")


def expect_end(program, status):
    code, output = program.finish()
    if code != status:
        raise Failure(f"status {code}, not {status}; output: {output}")


def case_refusal(program, work):
    box = program.window("alert", "Error")
    check_window("refusal", box, ["Error", REFUSAL_TEXT])
    key("Return")
    expect_end(program, 2)


def case_replace(program, work):
    wave = os.path.join(work, "existing.wav")
    with open(wave, "wb") as existing:
        existing.write(b"kept")
    save_as(program, "existing.wav")
    question = program.window("alert", "Save As")
    check_window("replace question", question, ["already exists", "Do you want to replace it?"])
    key("alt+y")
    notice = program.window("dialog", NOTICE_TITLE, older_role="filler")
    check_window("notice", notice, [NOTICE_TITLE, NOTICE_TEXT, "Escape"])
    check_inside("notice", notice, "progress bar", "Conversion progress")
    wait_for("focused notice", lambda: focused_title() == NOTICE_TITLE)
    key("Escape")
    expect_end(program, 0)
    with open(wave, "rb") as existing:
        if existing.read() != b"kept":
            raise Failure("the cancelled conversion changed the existing file")


def case_completion(program, work):
    save_as(program, "spoken.wav")
    box = program.window("alert", APPLICATION_TITLE)
    check_window("completion", box, [APPLICATION_TITLE, "Wave file created."])
    check_on_screen("completion, the notice behind", NOTICE_TITLE)
    key("Return")
    expect_end(program, 0)


def case_failure(program, work):
    save_as(program, "out.wav")
    box = program.window("alert", APPLICATION_TITLE)
    check_window("failure", box, [APPLICATION_TITLE, "No Such Engine"])
    key("Return")
    expect_end(program, 1)


CASES = {"refusal": case_refusal, "replace": case_replace, "completion": case_completion,
         "failure": case_failure}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        print(f"usage: {sys.argv[0]} PROGRAM {'|'.join(CASES)}", file=sys.stderr)
        return 2
    program_path, case = os.path.realpath(sys.argv[1]), sys.argv[2]
    scratch = tempfile.mkdtemp(prefix="kestrova-a11y.")
    work = os.path.join(scratch, "work")
    os.makedirs(os.path.join(scratch, "config"))
    os.mkdir(work)
    text = os.path.join(work, "t.txt")
    with open(text, "w") as file:
        # The notice must still be up when the walk reaches it: a long text in that case.
        sentences = 3000 if case == "replace" else 1
        file.write("Sentence number one is read aloud. " * sentences)
    # A name far wider than the screen: the failure box is cut to fit, not the name to nothing.
    arguments = {"refusal": [], "failure": [f"No Such Engine {'x' * 400}%{text}"]}.get(
        case, [f"{VOICE}%{text}"])
    session = Session()
    program = None
    try:
        session.start_all(scratch)
        global pyatspi
        import pyatspi  # after the session exists: it joins the AT-SPI bus on import
        program = Program(program_path, arguments, work, scratch)
        CASES[case](program, work)
    except Failure as failure:
        print(f"FAIL ({case}): {failure}", file=sys.stderr)
        return 1
    finally:
        if program is not None and program.process.poll() is None:
            program.process.kill()
        session.end()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"ok: {case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
