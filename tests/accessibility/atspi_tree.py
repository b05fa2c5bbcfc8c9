#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The window as a screen reader reads it, over AT-SPI.

Starts torvik-config on the simulated reader and walks its accessibility
tree in English, then in Simplified and in Traditional Chinese (switched
with the language buttons, pressed through AT-SPI). Every control a person
can reach (showing and focusable) must have a name and the role of its kind;
the lists must be labelled by their caption, the scroll bars named by what
they set and carry their value, the status line and the two lamps must say
what they show. A press that leaves the status text as it was (a refused
operation) must still announce it.

With --on-screen every reachable control must also lie within the screen
(run at a scale where the window would not fit as laid out).

    atspi_tree.py PATH/TO/torvik-config [--on-screen]

TORVIK_SCREEN gives the size of the virtual screen in pixels, as 1920x1080.

Run under dbus-run-session and Xvfb with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
(tests/accessibility/run_atspi_tree.sh does).
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

# What each language shows and says.
LANGUAGES = [
    {
        "name": "English",
        "title": "KELDO TORVIK Reader Config V4.01-01",
        "status": "Start Scan Reader!",
        "list_captions": {"BaudRate", "Output interface", "Wiegand format", "RS485 format",
                          "Card type"},
        "scroll_bars": {"Reader ID", "Facility code", "Finger No"},
        "check_box": "Scan only this baud rate",
        "simplified": "Simplified Chinese",
        "traditional": "Traditional Chinese",
        "english": "English",
        "refused_by": "Set ID",
        "images": {"Link indicator: failed", "Card lamp: off"},
    },
    {
        "name": "Simplified Chinese",
        "title": "KELDO TORVIK 读卡机设定程式 V4.01-01",
        "status": "请先扫描读卡机!",
        "list_captions": {"通讯速度", "输出接口", "Wiegand 格式", "RS485 格式", "卡片类别"},
        "scroll_bars": {"读卡机编号", "区段码", "指纹编号"},
        "check_box": "仅扫描此通讯速度",
        "simplified": "简体中文",
        "traditional": "繁体中文",
        "english": "English",
        "refused_by": "设定编号(I)",
        "images": {"连线指示灯：失败", "读卡指示灯：熄灭"},
    },
    {
        "name": "Traditional Chinese",
        "title": "KELDO TORVIK 讀卡機設定程式 V4.01-01",
        "status": "請先掃描讀卡機!",
        "list_captions": {"通訊速度", "輸出介面", "Wiegand 格式", "RS485 格式", "卡片類別"},
        "scroll_bars": {"讀卡機編號", "區段碼", "指紋編號"},
        "check_box": "僅掃描此通訊速度",
        "simplified": "簡體中文",
        "traditional": "繁體中文",
        "english": "English",
        "refused_by": "設定編號(I)",
        "images": {"連線指示燈：失敗", "讀卡指示燈：熄滅"},
    },
]

# The reachable controls of the window as laid out, by role.
REACHABLE_ROLES = {"push button": 16, "combo box": 5, "scroll bar": 3, "check box": 1}

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text, flush=True)


def pump():
    """Delivers the AT-SPI events that have arrived."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def has(obj, state):
    return obj.getState().contains(state)


def showing(obj):
    return has(obj, pyatspi.STATE_SHOWING) and has(obj, pyatspi.STATE_VISIBLE)


def walk(obj):
    """Every object of the tree below obj that is showing, obj included."""
    if obj is None or not showing(obj):
        return
    yield obj
    for child in obj:
        yield from walk(child)


def labels_of(obj):
    """The captions labelling obj, as read without the colon that ends them."""
    names = set()
    for relation in obj.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                names.add(relation.getTarget(i).name.rstrip(":：").strip())
    return names


def extents(obj):
    e = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def find_application(process):
    while process.poll() is None:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == process.pid:
                for child in app:
                    if child.getRoleName() == "frame" and showing(child):
                        return app, child
        time.sleep(0.2)
    return None, None


def wait_for_title(process, frame, title):
    while process.poll() is None and frame.name != title:
        time.sleep(0.1)
    return frame.name == title


def check_language(lang, frame, on_screen, screen):
    where = lang["name"] + ": "
    if frame.name != lang["title"]:
        fail(where + "the window is named %r" % frame.name)
    objects = list(walk(frame))
    reachable = [o for o in objects if has(o, pyatspi.STATE_FOCUSABLE) and o is not frame]
    counts = {}
    for obj in reachable:
        role = obj.getRoleName()
        counts[role] = counts.get(role, 0) + 1
        label = "%s %r" % (role, obj.name)
        if role not in REACHABLE_ROLES:
            fail(where + "reachable control with the role %s" % label)
        if not obj.name.strip():
            fail(where + "reachable %s without a name" % role)
        if on_screen:
            x, y, w, h = extents(obj)
            sx, sy, sw, sh = screen
            if x < sx or y < sy or x + w > sx + sw or y + h > sy + sh:
                fail(where + "%s at %s lies beyond the screen %s" % (label, (x, y, w, h), screen))
    for role, count in REACHABLE_ROLES.items():
        if counts.get(role, 0) != count:
            fail(where + "%d reachable %s controls, not %d" % (counts.get(role, 0), role, count))

    lists = [o for o in reachable if o.getRoleName() == "combo box"]
    captions = set()
    for obj in lists:
        names = labels_of(obj)
        if len(names) != 1:
            fail(where + "list %r is labelled by %s" % (obj.name, sorted(names)))
        captions |= names
    if captions != lang["list_captions"]:
        fail(where + "lists labelled %s, not %s" % (sorted(captions), sorted(lang["list_captions"])))

    bars = [o for o in reachable if o.getRoleName() == "scroll bar"]
    if {o.name for o in bars} != lang["scroll_bars"]:
        fail(where + "scroll bars named %s" % sorted(o.name for o in bars))
    for obj in bars:
        value = obj.queryValue()
        if not value.minimumValue <= value.currentValue <= value.maximumValue:
            fail(where + "scroll bar %r has no value in its range" % obj.name)

    boxes = [o.name for o in reachable if o.getRoleName() == "check box"]
    if boxes != [lang["check_box"]]:
        fail(where + "check box named %s" % boxes)
    buttons = {o.name for o in reachable if o.getRoleName() == "push button"}
    for key in ("simplified", "traditional", "english"):
        if lang[key] not in buttons:
            fail(where + "no button named %r" % lang[key])

    status = [o for o in objects if o.getRoleName() == "status bar"]
    if [o.name for o in status] != [lang["status"]]:
        fail(where + "status line reads %s" % [o.name for o in status])
    images = {o.name for o in objects if o.getRoleName() == "image"}
    if not lang["images"] <= images:
        fail(where + "lamps read %s" % sorted(images))
    return status[0] if status else None


def press(frame, name):
    for obj in walk(frame):
        if obj.getRoleName() == "push button" and obj.name == name:
            action = obj.queryAction()
            for i in range(action.nActions):
                if action.getName(i) in ("Press", "press", "click"):
                    action.doAction(i)
                    return True
            action.doAction(0)
            return True
    fail("no button named %r to press" % name)
    return False


def main():
    config = sys.argv[1]
    on_screen = "--on-screen" in sys.argv[2:]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    announced = []  # names the status line was announced with
    lamp_events = []  # (event type, name) of the link indicator

    def on_name(event):
        source = event.source
        if source is None:
            return
        if source.getRoleName() == "status bar":
            announced.append(source.name)
        elif source.getRoleName() == "image" and source.name.startswith("Link indicator"):
            lamp_events.append((event.type, source.name))

    process = subprocess.Popen([config, "--simulate"], env=env)
    try:
        app, frame = find_application(process)
        if frame is None:
            fail("torvik-config ended before its window appeared")
            return 1
        pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
        # The window's coordinates are Qt's device-independent pixels: the
        # screen in the same units.
        scale = float(os.environ.get("QT_SCALE_FACTOR", "1"))
        width, height = (int(v) for v in os.environ["TORVIK_SCREEN"].split("x"))
        screen = (0, 0, width / scale, height / scale)
        for index, lang in enumerate(LANGUAGES):
            if index == 1:
                press(frame, LANGUAGES[0]["simplified"])
            elif index == 2:
                press(frame, LANGUAGES[1]["traditional"])
            if not wait_for_title(process, frame, lang["title"]):
                fail(lang["name"] + ": the language did not switch")
                continue
            status = check_language(lang, frame, on_screen, screen)
            # A refused operation: the status text stays, and is announced.
            pump()
            announced.clear()
            press(frame, lang["refused_by"])
            while process.poll() is None and not announced:
                time.sleep(0.05)
                pump()
            if status is not None and announced[-1:] != [lang["status"]]:
                fail(lang["name"] + ": the refusal announced %s" % announced)
        press(frame, LANGUAGES[2]["english"])
        wait_for_title(process, frame, LANGUAGES[0]["title"])
        # A scan that finds the simulated reader: the link indicator says it
        # is busy while the scan runs and then that the reader was found,
        # each change with its event.
        pump()
        lamp_events.clear()
        press(frame, "Scan Reader")
        found = "Link indicator: reader found"
        while process.poll() is None and found not in [n for _, n in lamp_events]:
            time.sleep(0.05)
            pump()
        names = []
        for _, name in lamp_events:
            if names[-1:] != [name]:
                names.append(name)
        if names != ["Link indicator: busy", found]:
            fail("the scan's link indicator events: %s" % names)
    finally:
        process.terminate()
        process.wait()
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
