#!/usr/bin/env python3
"""Draws phonebook download time against phonebook size, for both receive
modes and the line-time lower bound, from bench_e2e's JSON output.

    python3 bench/plot_download.py build/bench-results/bench_e2e.json out.svg

Uses matplotlib when it is installed (SVG or PNG by the output's suffix);
otherwise writes the SVG itself, so the plot needs nothing beyond Python.
"""
import json
import sys

MODES = [
    ("wait", "receive thread waits for input", "#1f77b4"),
    ("poll15", "receive thread sleeps 15 ms between passes", "#d62728"),
]
BOUND = ("line-time lower bound (bytes x 11 / 115200 s)", "#555555")
TITLE = "Phonebook download plus three call lists, 115200 baud 8E1"
XLABEL = "contacts in the phonebook"
YLABEL = "time from phone connection to phonebook complete (s)"


def series(doc):
    """{mode: [(contacts, seconds)]} and the bound [(contacts, seconds)]."""
    out = {m: [] for m, _, _ in MODES}
    bound = {}
    for row in doc.get("sweep", []):
        if "time_s" not in row or row.get("mode") not in out:
            continue
        n = int(row["contacts"])
        out[row["mode"]].append((n, float(row["time_s"])))
        bound.setdefault(n, float(row["bound_s"]))
    for m in out:
        out[m].sort()
    return out, sorted(bound.items())


def plot_matplotlib(data, bound, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(8, 5))
    for mode, label, color in MODES:
        pts = data[mode]
        if pts:
            ax.plot([p[0] for p in pts], [p[1] for p in pts], "o-", color=color, label=label)
    if bound:
        ax.plot([p[0] for p in bound], [p[1] for p in bound], "--", color=BOUND[1], label=BOUND[0])
    ax.set_title(TITLE)
    ax.set_xlabel(XLABEL)
    ax.set_ylabel(YLABEL)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)


def nice_step(span, ticks=6):
    raw = span / ticks
    mag = 10 ** len(str(int(raw))) / 10 if raw >= 1 else 1
    for m in (1, 2, 2.5, 5, 10):
        if raw <= m * mag:
            return m * mag
    return 10 * mag


def plot_svg(data, bound, path):
    width, height = 800, 500
    left, right, top, bottom = 80, 30, 50, 110
    pw, ph = width - left - right, height - top - bottom
    xs = [p[0] for pts in data.values() for p in pts] + [p[0] for p in bound]
    ys = [p[1] for pts in data.values() for p in pts] + [p[1] for p in bound]
    xmax = max(xs) if xs else 1
    ymax = max(ys) if ys else 1
    xstep, ystep = nice_step(xmax), nice_step(ymax)
    xmax = xstep * (int(xmax / xstep) + (xmax % xstep > 0))
    ymax = ystep * (int(ymax / ystep) + (ymax % ystep > 0))

    def px(x):
        return left + pw * x / xmax

    def py(y):
        return top + ph - ph * y / ymax

    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'font-family="sans-serif" font-size="12">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="{width / 2}" y="25" text-anchor="middle" font-size="15">{TITLE}</text>',
    ]
    x = 0.0
    while x <= xmax + 1e-9:
        out.append(f'<line x1="{px(x):.1f}" y1="{top}" x2="{px(x):.1f}" y2="{top + ph}" stroke="#ddd"/>')
        out.append(f'<text x="{px(x):.1f}" y="{top + ph + 18}" text-anchor="middle">{x:g}</text>')
        x += xstep
    y = 0.0
    while y <= ymax + 1e-9:
        out.append(f'<line x1="{left}" y1="{py(y):.1f}" x2="{left + pw}" y2="{py(y):.1f}" stroke="#ddd"/>')
        out.append(f'<text x="{left - 8}" y="{py(y) + 4:.1f}" text-anchor="end">{y:g}</text>')
        y += ystep
    out.append(f'<rect x="{left}" y="{top}" width="{pw}" height="{ph}" fill="none" stroke="#333"/>')
    out.append(f'<text x="{left + pw / 2}" y="{top + ph + 40}" text-anchor="middle">{XLABEL}</text>')
    out.append(
        f'<text x="20" y="{top + ph / 2}" text-anchor="middle" '
        f'transform="rotate(-90 20 {top + ph / 2})">{YLABEL}</text>'
    )

    def polyline(pts, color, dashed):
        if not pts:
            return
        coords = " ".join(f"{px(a):.1f},{py(b):.1f}" for a, b in pts)
        dash = ' stroke-dasharray="6 4"' if dashed else ""
        out.append(f'<polyline points="{coords}" fill="none" stroke="{color}" stroke-width="2"{dash}/>')
        if not dashed:
            for a, b in pts:
                out.append(f'<circle cx="{px(a):.1f}" cy="{py(b):.1f}" r="3.5" fill="{color}"/>')

    for mode, _, color in MODES:
        polyline(data[mode], color, False)
    polyline(bound, BOUND[1], True)

    ly = top + ph + 62
    entries = [(label, color, False) for _, label, color in MODES] + [(BOUND[0], BOUND[1], True)]
    for i, (label, color, dashed) in enumerate(entries):
        yy = ly + 16 * i
        dash = ' stroke-dasharray="6 4"' if dashed else ""
        out.append(f'<line x1="{left}" y1="{yy}" x2="{left + 30}" y2="{yy}" stroke="{color}" stroke-width="2"{dash}/>')
        out.append(f'<text x="{left + 38}" y="{yy + 4}">{label}</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1]) as f:
        doc = json.load(f)
    data, bound = series(doc)
    if not any(data.values()):
        print("plot_download: no sweep figures in", sys.argv[1], file=sys.stderr)
        return 1
    try:
        plot_matplotlib(data, bound, sys.argv[2])
    except ImportError:
        plot_svg(data, bound, sys.argv[2])
    print("plot_download: wrote", sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
