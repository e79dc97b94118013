#!/usr/bin/python3
"""The program is a thin caller of the library: every header the application includes is its own,
a public one of the library, or the media component's interface; and the built program loads
libtrelis.so rather than carrying the library's code.

Usage: check_thin_app.py <source root> <built program>
"""
import pathlib
import re
import subprocess
import sys

MEDIA_INTERFACE = {"MediaComponent.h", "MediaInfo.h"}


def stray_includes(root):
    app, public = root / "app", root / "include"
    stray = []
    for source in sorted(app.rglob("*")):
        if source.suffix not in (".h", ".cpp"):
            continue
        for number, line in enumerate(source.read_text().splitlines(), 1):
            match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if not match:
                continue
            name = match.group(1)
            if (app / name).is_file() or (public / name).is_file() or name in MEDIA_INTERFACE:
                continue
            stray.append(f"{source.relative_to(root)}:{number}: {name}")
    return stray


def main():
    root, program = pathlib.Path(sys.argv[1]), sys.argv[2]
    failures = [f"includes a header outside the application and the public ones: {s}"
                for s in stray_includes(root)]
    dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True,
                             check=True).stdout
    if "libtrelis.so" not in dynamic:
        failures.append(f"{program} does not load libtrelis.so")
    symbols = subprocess.run(["nm", "-C", "--defined-only", program], capture_output=True,
                             text=True, check=True).stdout
    if "MCClusterSync::run" in symbols:
        failures.append(f"{program} carries the library's code (MCClusterSync::run)")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
