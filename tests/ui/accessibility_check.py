#!/usr/bin/env python3
"""Reads the demo's window through the accessibility bus, as a screen reader would, and checks the
names, roles and values of the device panel, the update list, the progress bars and the message
strips on the connected, listed and installing pages. The buttons are pressed through the bus too.

Run by accessibility-check.sh, inside a session bus and a virtual screen of its own. Exit code 77:
no accessibility bus here (a failure where CI is set)."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
in_ci = os.environ.get("CI", "") not in ("", "0", "false")


def skip(reason):
    if in_ci:
        print(f"The accessibility check cannot run, and CI needs it: {reason}", file=sys.stderr)
        sys.exit(1)
    print(f"Skipped: {reason}")
    sys.exit(SKIP)


try:
    import dbus
except ImportError as error:
    skip(f"python3-dbus is missing ({error}): bash scripts/install-deps.sh")

# The session bus starts the accessibility bus on demand; without at-spi2-core there is none.
class Failure(Exception):
    pass


ACCESSIBLE = "org.a11y.atspi.Accessible"
ROOT = "/org/a11y/atspi/accessible/root"
STATE_ACTIVE, STATE_ENABLED, STATE_FOCUSED, STATE_SHOWING = 1, 8, 12, 25


class Node:
    """One accessible object of an application on the accessibility bus, read over D-Bus as a
    screen reader does. The registry's list of applications is not needed: the updater is found by
    asking each client of the bus for its root object."""

    def __init__(self, bus, name, path):
        self.bus, self.busName, self.path = bus, name, path
        self.proxy = bus.get_object(name, path, introspect=False)

    def _property(self, interface, name):
        return self.proxy.Get(interface, name, dbus_interface="org.freedesktop.DBus.Properties", timeout=5)

    @property
    def name(self):
        return str(self._property(ACCESSIBLE, "Name"))

    @property
    def description(self):
        return str(self._property(ACCESSIBLE, "Description"))

    @property
    def childCount(self):
        return int(self._property(ACCESSIBLE, "ChildCount"))

    def getChildAtIndex(self, index):
        name, path = self.proxy.GetChildAtIndex(index, dbus_interface=ACCESSIBLE, timeout=5)
        return Node(self.bus, str(name), str(path))

    def getRoleName(self):
        return str(self.proxy.GetRoleName(dbus_interface=ACCESSIBLE, timeout=5))

    def has(self, state):
        words = self.proxy.GetState(dbus_interface=ACCESSIBLE, timeout=5)
        return bool(int(words[state // 32]) & (1 << (state % 32)))

    def value(self):
        get = lambda name: float(self._property("org.a11y.atspi.Value", name))
        return get("MinimumValue"), get("MaximumValue"), get("CurrentValue")

    def actions(self):
        return [str(entry[0]) for entry in self.proxy.GetActions(dbus_interface="org.a11y.atspi.Action", timeout=5)]

    def doAction(self, index):
        self.proxy.DoAction(index, dbus_interface="org.a11y.atspi.Action", timeout=5)


def settle(seconds):
    time.sleep(seconds)


def walk(node, depth=0):
    """Every accessible under node, the node first; hidden pages included, so callers look at
    the showing state."""
    if node is None or depth > 40:
        return
    yield node
    try:
        count = node.childCount
    except dbus.DBusException:
        return
    for index in range(count):
        try:
            child = node.getChildAtIndex(index)
        except dbus.DBusException:
            continue
        yield from walk(child, depth + 1)


def showing(node):
    try:
        return node.has(STATE_SHOWING)
    except dbus.DBusException:
        return False


def role(node):
    return node.getRoleName()


def find(app, wanted_role, name=None, pattern=None):
    for node in walk(app):
        try:
            if role(node) != wanted_role or not showing(node):
                continue
            if name is not None and node.name != name:
                continue
            if pattern is not None and not re.search(pattern, node.name or ""):
                continue
            return node
        except dbus.DBusException:
            continue
    return None


def wait_for(what, probe_function, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe_function()
        if found:
            return found
        if demo.poll() is not None:
            raise Failure(f"the demo ended while waiting for {what}")
        settle(0.2)
    raise Failure(f"not seen within {seconds} s: {what}")


def press(button):
    names = button.actions()
    button.doAction(names.index("Press") if "Press" in names else 0)


bus = None
address = None


def join_bus():
    """Starts the accessibility bus, as a screen reader does, and joins it. Called once the updater
    runs: Qt's bridge joins a bus that starts after it, while one that is already up when the
    program starts is not joined."""
    global bus, address
    probe = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                            "/org/a11y/bus", "org.a11y.Bus.GetAddress"], capture_output=True, text=True, timeout=15)
    if probe.returncode != 0:
        stop_demo()
        skip(f"the accessibility bus did not start: {probe.stderr.strip()}")
    address = probe.stdout.strip()
    bus = dbus.bus.BusConnection(address)


def updater_app():
    names = bus.list_names()
    for name in names:
        if not str(name).startswith(":"):
            continue
        try:
            app = Node(bus, str(name), ROOT)
            if app.name == "Pelk Updater" and app.getRoleName() == "application":
                return app
        except dbus.DBusException:
            continue
    return None


checks = []


def check(label, condition, detail=""):
    checks.append(label)
    if not condition:
        raise Failure(f"{label}: {detail}")
    print(f"ok - {label}")


def connected_page(app):
    panel = wait_for("the device panel naming the connected Pelk+",
                     lambda: find(app, "filler", name="Pelk+ Connected"),
                     30)
    versions = panel.description or ""
    for component in ("MCU", "DSP", "Styles", "Ensemble"):
        check(f"the device panel's description tells the {component} version",
              re.search(rf"\b{component}: \S", versions), repr(versions))
    check("the model logo is named", find(app, "graphic", name="Pelk+ logo") is not None)
    check("the maker logo is named", find(app, "graphic", name="Quellor logo") is not None)
    button = wait_for("an enabled \"Check for Latest Updates\" push button",
                      lambda: (lambda b: b if b and b.has(STATE_ENABLED) else None)(
                          find(app, "push button", name="Check for Latest Updates")), 20)
    check("\"Check for Latest Updates\" is a push button with an action", len(button.actions()) > 0)
    return button


def listed_page(app):
    updates = wait_for("the update list with the four components",
                       lambda: (lambda node: node if node and node.childCount >= 4 else None)(
                           find(app, "list", name="Updates")), 30)
    items = [updates.getChildAtIndex(index) for index in range(updates.childCount)]
    check("each entry of the update list is a list item", all(role(item) == "list item" for item in items),
          str([role(item) for item in items]))
    for item in items:
        check(f"list entry \"{item.name}\" names a component, its version and size",
              re.match(r".+: Version .+, Size \d+ KB$", item.name or ""), repr(item.name))
    check("the update list's description is its heading",
          (updates.description or "").startswith("The following components can be updated"),
          repr(updates.description))
    heading = find(app, "filler", pattern=r"^The following components can be updated")
    check("the heading strip is read with its kind", heading is not None and heading.description == "Information",
          repr(heading.description if heading else None))
    start = find(app, "push button", name="Start Update")
    check("\"Start Update\" is an enabled push button",
          start is not None and start.has(STATE_ENABLED))
    # Focus is a property of the active window, and no window manager activates one on this screen;
    # where one does, the focus is on "Start Update".
    frame = find(app, "frame")
    if frame is not None and frame.has(STATE_ACTIVE):
        check("\"Start Update\" has the focus once there is something to install",
              wait_for("the focus on \"Start Update\"", lambda: start.has(STATE_FOCUSED) or None, 10))
    return start


def installing_page(app):
    def moving_bar():
        for node in walk(app):
            try:
                if role(node) == "progress bar" and showing(node) and node.name not in ("", "Download", "Install"):
                    if node.value()[2] > 0:
                        return node
            except dbus.DBusException:
                continue
        return None

    bar = wait_for("a progress bar named by its step, with progress", moving_bar, 40)
    low, high, current = bar.value()
    check("the progress bar's value is a percentage", low == 0 and high == 100 and 0 < current <= 100,
          f"{low}..{high}: {current}")
    # The description and the value move together; read both until they agree once.
    in_step = wait_for("the progress bar's description in step with its value",
                       lambda: bar.description == f"{int(bar.value()[2])} percent" or None, 10)
    check("the progress bar's description says its percentage", in_step, repr(bar.description))
    label = find(app, "label", name=bar.name)
    check("the bar's name is the text shown above it", label is not None, repr(bar.name))
    # Between two components the strip is hidden for a moment; it is read once it shows again.
    def status_strip():
        for node in walk(app):
            try:
                if role(node) == "filler" and showing(node) and node.description in ("Warning", "Information") \
                        and node.name and not node.name.startswith("The following components"):
                    return node
            except dbus.DBusException:
                continue
        return None

    strip = wait_for("the status strip with a text and a kind", status_strip, 15)
    label = find(app, "label", name=strip.name)
    check("the status strip is read with its text and kind", label is not None,
          repr((strip.name, strip.description)))


environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
# A file, not a pipe: the demo writes more than a pipe holds while nobody reads it.
demo_log = None
demo = None


def start_demo():
    global demo, demo_log
    demo_log = tempfile.TemporaryFile()
    demo = subprocess.Popen(["bash", os.path.join(root, "scripts", "run-demo.sh"), "--no-build", "--fast"],
                            cwd=root, env=environment, stdout=demo_log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)


def demo_says(text):
    def probe_function():
        demo_log.seek(0)
        return text.encode() in demo_log.read()
    return probe_function


def stop_demo():
    if demo.poll() is None:
        demo.send_signal(signal.SIGTERM)
        try:
            demo.wait(timeout=10)
        except subprocess.TimeoutExpired:
            demo.kill()
            demo.wait()


status = 0
app = None
try:
    start_demo()
    wait_for("the device ready in the demo's log", demo_says("Device ready."), 30)
    join_bus()
    app = wait_for("the updater on the accessibility bus", updater_app, 10)
    check("the updater is on the accessibility bus as \"Pelk Updater\"", True)
    check("its window is a frame", find(app, "frame") is not None)
    press(connected_page(app))
    press(listed_page(app))
    installing_page(app)
    print(f"{len(checks)} checks passed")
except Failure as failure:
    print(f"FAILED: {failure}", file=sys.stderr)
    status = 1
    if app is not None:
        print("--- what the window shows on the bus ---", file=sys.stderr)
        for node in walk(app):
            try:
                if showing(node):
                    print(f"{role(node)}: {node.name!r} ({node.description!r})", file=sys.stderr)
            except dbus.DBusException:
                continue
finally:
    stop_demo()
    if status:
        demo_log.seek(0)
        output = demo_log.read().decode(errors="replace").splitlines()
        print("--- last lines of the demo's output ---", file=sys.stderr)
        print("\n".join(output[-30:]), file=sys.stderr)
        print("--- the demo's lines about the accessibility bus ---", file=sys.stderr)
        print("\n".join(line for line in output if re.search(r"registry|D-Bus|listeners|accessib", line, re.I)),
              file=sys.stderr)
sys.exit(status)
