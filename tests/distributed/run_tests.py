#!/usr/bin/python3
"""Runs the tests of trelis.distributed with pytest; exits 77 (skipped) when pytest, dask's
distributed scheduler or the built module is missing.

Usage: run_tests.py <folder holding the trelis package> <Trelis> <make_demo> <work folder>"""
import os
import sys

SKIPPED = 77


def main():
    package_dir, program, make_demo, work = sys.argv[1:5]
    sys.path.insert(0, package_dir)
    try:
        import distributed  # noqa: F401
        import pytest  # noqa: F401
        import trelis  # noqa: F401
    except ImportError as missing:
        print(f"skipped: {missing}")
        return SKIPPED
    # The workers are processes of their own: they find the package the same way.
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [package_dir] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    os.environ.update(TRELIS_PROGRAM=program, TRELIS_MAKE_DEMO=make_demo)
    here = os.path.dirname(os.path.abspath(__file__))
    return pytest.main(["-q", "-p", "no:cacheprovider", f"--basetemp={work}", here])


if __name__ == "__main__":
    sys.exit(main())
