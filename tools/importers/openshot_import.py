#!/usr/bin/python3
"""Runs OpenShot's own Final Cut Pro XML importer, headless, on a timeline Trelis wrote, and checks
that every member of every cluster lands once, where Trelis' JSON report puts it.

The importer is OpenShot's code as Debian installs it, run on OpenShot's real application object
(project data, update manager, settings, libopenshot readers) in its "unittest" mode, which builds
everything but the main window. Only what needs a person or a window is stood in for:
  - the "Import XML..." file dialog answers with the file under test;
  - the main window is a stand-in whose preview refresh and property-table calls do nothing;
  - the missing-file message box and folder dialog are recorded, and the folder dialog answers
    with the folder the XML's pathurl names, as a person pointing OpenShot at the media would.

Usage: openshot_import.py --xml event.xml --json event.json [--expected expected.txt]
"""

import argparse
import json
import logging
import os
import re
import shutil
import sys
import tempfile
import traceback
from fractions import Fraction
from urllib.parse import unquote, urlparse
from xml.dom import minidom
from xml.parsers.expat import ExpatError

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
# OpenShot keeps its settings, thumbnails and recovery files under ~/.openshot_qt: a home of its
# own keeps the user's untouched, and goes when the check ends.
scratch_home = tempfile.mkdtemp(prefix="openshot-home.")
os.environ["HOME"] = scratch_home
os.environ.setdefault("XDG_RUNTIME_DIR", os.path.join(scratch_home, "run"))
os.makedirs(os.environ["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)


def die(path, problem):
    print(f"openshot_import: {path}: {problem}", file=sys.stderr)
    sys.exit(2)


def read_inputs(args):
    """The XML document, the offsets of each cluster's members by name, and the known starts."""
    for path in [args.xml, args.json] + ([args.expected] if args.expected else []):
        if not os.path.isfile(path):
            die(path, "no such file")
    try:
        document = minidom.parse(args.xml)
    except ExpatError as error:
        die(args.xml, f"not well-formed XML ({error})")
    if document.documentElement.tagName != "xmeml":
        die(args.xml, f"root element is <{document.documentElement.tagName}>, not <xmeml>")
    try:
        with open(args.json, encoding="utf-8") as f:
            report = json.load(f)
    except (json.JSONDecodeError, UnicodeDecodeError) as error:
        die(args.json, f"not JSON ({error})")
    if not isinstance(report, dict) or not isinstance(report.get("clusters"), list):
        die(args.json, "has no \"clusters\" list: not a Trelis JSON report")
    members = {}  # name -> (cluster number, offset from the cluster's earliest member)
    for number, cluster in enumerate(report["clusters"], 1):
        offsets = {}
        for member in cluster.get("members", []):
            if "name" not in member:
                die(args.json, f"cluster {number} has a member without a name")
            offsets[member["name"]] = member.get("refinedOffset", member.get("offset"))
        if not offsets or any(not isinstance(v, (int, float)) for v in offsets.values()):
            die(args.json, f"cluster {number} has a member without a numeric offset")
        # Timelines start at the earliest member, whatever the reference.
        earliest = min(offsets.values())
        for name, offset in offsets.items():
            members[name] = (number, offset - earliest)
    durations = {f["name"]: f.get("duration") for f in report.get("files", []) if "name" in f}
    starts = {}
    if args.expected:
        with open(args.expected, encoding="utf-8") as f:
            for line_number, line in enumerate(f, 1):
                if not line.strip():
                    continue
                parts = line.split()
                try:
                    starts[os.path.splitext(parts[0])[0]] = float(parts[1])
                except (IndexError, ValueError):
                    die(args.expected, f"line {line_number}: expected '<file> <start seconds>'")
    return document, members, durations, starts


def sequence_rate(document, path):
    """The frame rate of the first sequence, as OpenShot would need its project to run at."""
    sequences = document.getElementsByTagName("sequence")
    if not sequences:
        die(path, "has no <sequence>")
    rates = [n for n in sequences[0].childNodes
             if n.nodeType == n.ELEMENT_NODE and n.tagName == "rate"]
    if not rates or not rates[0].getElementsByTagName("timebase"):
        die(path, "first <sequence> has no <rate><timebase>")
    rate = rates[0]
    try:
        timebase = int(rate.getElementsByTagName("timebase")[0].firstChild.nodeValue)
    except (AttributeError, ValueError):
        die(path, "first <sequence>'s <timebase> is not a whole number")
    ntsc = rate.getElementsByTagName("ntsc")
    is_ntsc = bool(ntsc) and ntsc[0].firstChild is not None and \
        ntsc[0].firstChild.nodeValue == "TRUE"
    return Fraction(timebase * 1000, 1001) if is_ntsc else Fraction(timebase)


def load_openshot():
    """OpenShot's packages as Debian installs them, its importer module, and a running app."""
    try:
        import openshot_qt  # only says where the package is: its __init__ does nothing else
    except ImportError:
        print("openshot_import: the openshot_qt package is not installed "
              "(apt-get install --no-install-recommends openshot-qt)", file=sys.stderr)
        sys.exit(2)
    root = openshot_qt.OPENSHOT_PATH
    # OpenShot's modules import one another as top-level "classes", "windows", ...
    sys.path.insert(0, root)
    from PyQt5.QtCore import QObject, pyqtSignal
    from classes.app import OpenShotApp
    from classes import info
    app = OpenShotApp(sys.argv[:1], mode="unittest")
    from classes.importers import final_cut_pro
    from windows.views import find_file
    import openshot

    class Player:
        def Position(self):
            return 1

    class PreviewThread:
        player = Player()

    class PropertyTable:
        def select_frame(self, frame):
            pass

    class Window(QObject):
        refreshFrameSignal = pyqtSignal()
        propertyTableView = PropertyTable()
        preview_thread = PreviewThread()

    app.window = Window()
    return app, info, final_cut_pro, find_file, openshot, root


class Recorder(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.records = []

    def emit(self, record):
        self.records.append(self.format(record))


def use_profile(app, openshot, info, fps):
    """Switches the empty project to an OpenShot profile of that frame rate, as its dialog does."""
    chosen = None
    for name in sorted(os.listdir(info.PROFILES_PATH)):
        profile = openshot.Profile(os.path.join(info.PROFILES_PATH, name))
        if Fraction(profile.info.fps.num, profile.info.fps.den) != fps:
            continue
        # A 720p one when there is one: the size of OpenShot's own default.
        if chosen is None or (profile.info.height == 720 and chosen.info.height != 720):
            chosen = profile
    if chosen is None:
        return None
    app.updates.update(["profile"], chosen.info.description)
    app.updates.update(["width"], chosen.info.width)
    app.updates.update(["height"], chosen.info.height)
    app.updates.update(["fps"], {"num": chosen.info.fps.num, "den": chosen.info.fps.den})
    return chosen.info.description


def run_import(app, info, final_cut_pro, find_file, xml_path):
    """One import into a fresh project: (error, prompts, warnings)."""
    prompts = []
    warnings = Recorder()
    logging.getLogger("OpenShot").addHandler(warnings)

    def open_dialog(*args, **kwargs):
        return (os.path.abspath(xml_path), "Final Cut Pro (*.xml)")

    def missing_message(parent, title, text, *args):
        prompts.append(f"message box '{title}': {text}")

    answered = set()

    def pick_folder(parent, caption, *args):
        # The folder a person would pick: where the pathurl says the file is. OpenShot asks
        # again while the name it looks for is not in that folder; a person would then give up.
        name = caption.split(": ", 1)[-1]
        for element in minidom.parse(xml_path).getElementsByTagName("pathurl"):
            url = element.firstChild.nodeValue if element.firstChild else ""
            path = unquote(urlparse(url).path)
            if name not in (os.path.basename(path), os.path.basename(url)):
                continue
            if name in answered:
                prompts.append(f"folder dialog '{caption}' again -> cancelled: OpenShot looks "
                               f"for '{name}' there, the file is '{os.path.basename(path)}'")
                return ""
            answered.add(name)
            prompts.append(f"folder dialog '{caption}' -> answered {os.path.dirname(path)}")
            return os.path.dirname(path)
        prompts.append(f"folder dialog '{caption}' -> cancelled (no pathurl names it)")
        return ""

    final_cut_pro.QFileDialog.getOpenFileName = open_dialog
    find_file.QMessageBox.warning = missing_message
    find_file.QFileDialog.getExistingDirectory = pick_folder
    error = None
    try:
        final_cut_pro.import_xml()
    except Exception:
        error = traceback.format_exc()
    finally:
        logging.getLogger("OpenShot").removeHandler(warnings)
    return error, prompts, warnings.records


def report_clips(app, members, durations, starts, sequence_fps, project_fps, strict):
    """Prints the imported clips; returns the problems found (only counted when strict)."""
    frame = 1 / float(sequence_fps)
    layers = {layer["number"]: layer for layer in app.project.get("layers")}
    clips = sorted(app.project.get("clips") or [], key=lambda c: (c["layer"], c["position"]))
    problems = []
    kinds = {f["id"]: f.get("media_type", "?") for f in app.project.get("files") or []}
    print(f"  {'clip':<16} {'file':<20} {'kind':<6} {'track (layer)':<24} {'position':>9} "
          f"{'start':>7} {'end':>7} {'Trelis':>8} {'diff':>9}")
    seen = {}
    for clip in clips:
        path = clip.get("reader", {}).get("path", "?")
        name = os.path.splitext(os.path.basename(path))[0]
        seen[name] = seen.get(name, 0) + 1
        layer = layers.get(clip["layer"], {})
        track = f"{layer.get('label', '?')} ({clip['layer']})"
        line = (f"  {clip.get('title', '?'):<16} {os.path.basename(path):<20} "
                f"{kinds.get(clip.get('file_id'), '?'):<6} {track:<24} "
                f"{clip['position']:9.3f} {clip['start']:7.3f} {clip['end']:7.3f}")
        if name in members:
            expected = members[name][1]
            diff = clip["position"] - expected
            verdict = "ok" if abs(diff) <= frame + 1e-9 else "MISPLACED"
            print(f"{line} {expected:8.3f} {diff:+8.3f}s {verdict}")
            if verdict != "ok":
                problems.append(
                    f"{name}: at {clip['position']:.3f} s, Trelis says {expected:.3f} s")
            length = clip["end"] - clip["start"]
            duration = durations.get(name)
            if duration and abs(length - duration) > frame + 1e-9:
                problems.append(f"{name}: {length:.3f} s long, the file lasts {duration:.3f} s")
        else:
            print(f"{line} {'-':>8} {'':>9} (not a Trelis member)")
            problems.append(f"{os.path.basename(path)}: imported but in no cluster of the JSON")
    for name in members:
        if name not in seen:
            problems.append(f"{name}: missing from the imported project")
        elif seen[name] > 1:
            problems.append(
                f"{name}: imported {seen[name]} times (its sound would play {seen[name]}x)")
    empty = [layer.get("label") for number, layer in sorted(layers.items())
             if layer.get("label", "").startswith("XML Import")
             and not any(c["layer"] == number for c in clips)]
    if empty:
        print(f"  empty tracks the import created: {', '.join(empty)}")
    if starts:
        first = min(starts.values())
        worst = max((abs(members[n][1] - (s - first)) for n, s in starts.items() if n in members),
                    default=None)
        if worst is not None:
            print(f"  Trelis' offsets vs the starts the media were cut at: "
                  f"worst {worst * 1000:.2f} ms")
            if worst > frame:
                problems.append(f"Trelis' offsets are {worst:.3f} s from the known starts")
    if not strict:
        scale = float(sequence_fps) / float(project_fps)
        print(f"  (positions here are the sequence's frame counts over "
              f"{float(project_fps):.3f} fps, i.e. Trelis' times x {scale:.4f})")
    return problems


def read_tags(root):
    """The element names OpenShot's importer asks for, taken from its source."""
    source = os.path.join(root, "classes", "importers", "final_cut_pro.py")
    with open(source, encoding="utf-8") as f:
        return set(re.findall(r'getElementsByTagName\("(\w+)"\)', f.read()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--xml", required=True, help="the Final Cut Pro XML timeline Trelis wrote")
    parser.add_argument("--json", required=True, help="Trelis' JSON report of the same run")
    parser.add_argument("--expected", help="lines '<file> <start s>': where each was cut")
    args = parser.parse_args()
    document, members, durations, starts = read_inputs(args)
    sequence_fps = sequence_rate(document, args.xml)

    app, info, final_cut_pro, find_file, openshot, root = load_openshot()
    print(f"OpenShot {info.VERSION}, libopenshot {openshot.OPENSHOT_VERSION_FULL}, importer "
          f"{os.path.join(root, 'classes', 'importers', 'final_cut_pro.py')}")
    print(f"{args.xml}: sequence at {float(sequence_fps):.3f} fps")

    read = read_tags(root)
    ours = sorted({element.tagName for element in document.getElementsByTagName("*")})
    unread = ", ".join(t for t in ours if t not in read)
    print(f"elements of our XML the importer never reads: {unread}")
    by_reference = [c.getAttribute("id") for c in document.getElementsByTagName("clipitem")
                    if not c.getElementsByTagName("pathurl")]
    if by_reference:
        print(f"clip items whose <file> has no <pathurl> (the importer skips them): "
              f"{', '.join(by_reference)}")

    failed = False
    # First as a fresh OpenShot project is (its default profile), then at the sequence's rate:
    # the importer turns frame counts into seconds with the project's rate, not the XML's <rate>.
    for strict in (False, True):
        app.project.new()
        app.updates.reset()
        find_file.known_paths[:] = [info.HOME_PATH]
        profile = app.project.get("profile")
        if strict:
            profile = use_profile(app, openshot, info, sequence_fps)
            if profile is None:
                print(f"FAIL: OpenShot has no profile at {float(sequence_fps):.3f} fps")
                failed = True
                continue
        fps = app.project.get("fps")
        project_fps = Fraction(fps["num"], fps["den"])
        print(f"\n== import into a project with profile '{profile}' "
              f"({fps['num']}/{fps['den']} fps){'' if strict else ', as OpenShot starts'}")
        error, prompts, warnings = run_import(app, info, final_cut_pro, find_file, args.xml)
        for prompt in prompts:
            print(f"  prompt: {prompt}")
        for warning in warnings:
            print(f"  OpenShot warning: {warning}")
        if error:
            print("  the importer raised:\n" + "\n".join("    " + l for l in error.splitlines()))
        problems = report_clips(app, members, durations, starts, sequence_fps, project_fps, strict)
        if error:
            problems.insert(0, "the importer raised")
        for problem in problems:
            print(f"  {'FAIL' if strict else 'note'}: {problem}")
        if strict:
            failed = failed or bool(problems)
            print(f"  {'FAIL' if problems else 'PASS'}: OpenShot's importer at the sequence's rate")
    return 1 if failed else 0


if __name__ == "__main__":
    try:
        code = main()
    finally:
        shutil.rmtree(scratch_home, ignore_errors=True)
    sys.exit(code)
