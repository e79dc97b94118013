#!/usr/bin/python3
"""Syncs the recordings of a folder with trelis and draws each cluster's members on a time axis,
each a bar from its refined offset to its end, saved as a PNG.

Usage: plot_clusters.py <folder> [out.png] [setting=value ...]
       (settings as the program's options: match=verified, maxdrift=100, ...)
Needs matplotlib (scripts/bootstrap.sh example installs it) and the trelis module on the path:
PYTHONPATH=build/python /usr/bin/python3 examples/plot_clusters.py build/demo/event clusters.png
"""
import ast
import os
import sys

import matplotlib

matplotlib.use("Agg")  # files only: no display needed
import matplotlib.pyplot as plt  # noqa: E402

import trelis  # noqa: E402


def settings_from(words):
    settings = {}
    for word in words:
        name, _, text = word.partition("=")
        try:
            settings[name] = ast.literal_eval(text)
        except (ValueError, SyntaxError):
            settings[name] = text  # a word: match=verified
    return settings


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else "clusters.png"
    if os.path.exists(out):
        sys.exit(f"{out} already exists; it is not overwritten")
    result = trelis.sync(folder, **settings_from(sys.argv[3:]))
    files = {f["id"]: f for f in result.files}
    for f in result.files:
        if f["status"] != "ok":
            print(f"{f['name']}: {f['message']}", file=sys.stderr)

    clusters = result.clusters
    fig, axes = plt.subplots(len(clusters), 1, squeeze=False,
                             figsize=(10, 1.0 + 0.5 * sum(len(c["members"]) for c in clusters)),
                             gridspec_kw={"height_ratios": [len(c["members"]) for c in clusters]})
    for k, (cluster, ax) in enumerate(zip(clusters, axes[:, 0])):
        members = cluster["members"]
        for row, m in enumerate(members):
            length = files[m["id"]]["duration"] or 0.0
            colour = plt.cm.RdYlGn(0.15 + 0.7 * (m.get("confidence") or 0.0))
            ax.barh(row, length, left=m["refinedOffset"], color=colour, edgecolor="black")
            # A drift only where it stands out of its error, as the program's note gives it.
            ppm, error = m.get("driftPpm"), m.get("driftPpmError") or 0.0
            drift = f", {ppm:+g} ppm" if ppm and abs(ppm) >= max(1.0, 3 * error) else ""
            ax.text(m["refinedOffset"], row, f" {m['refinedOffset']:.3f} s ({m['status']}{drift})",
                    va="center", fontsize=8)
        ax.set_yticks(range(len(members)), [m["name"] for m in members])
        ax.invert_yaxis()
        ax.set_title(f"cluster {k + 1}", loc="left", fontsize=9)
    axes[-1, 0].set_xlabel("seconds after the cluster's earliest recording")
    fig.tight_layout()
    fig.savefig(out, dpi=100)
    print(f"{len(clusters)} clusters drawn in {out}")


if __name__ == "__main__":
    main()
