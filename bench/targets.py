"""The bench's targets as data: what each measured value must be, and the table's rows."""
from collections import namedtuple

Target = namedtuple("Target", "wanted met")
Row = namedtuple("Row", "what wanted measured met")


def at_most(limit, unit=""):
    return Target(f"≤ {limit}{unit}", lambda value: value <= limit)


def at_least(limit, unit=""):
    return Target(f"≥ {limit}{unit}", lambda value: value >= limit)


def below(limit, unit=""):
    return Target(f"< {limit}{unit}".replace("-", "−"), lambda value: value < limit)


def within(centre, margin, unit=""):
    return Target(f"{centre} ± {margin}{unit}", lambda value: abs(value - centre) <= margin)


TARGETS = {
    "wav vs espeak wall": at_most(0.53),
    "wav vs espeak cpu": at_most(1.06),
    "one worker wall": at_most(1.03),
    "outside engine": at_most(4, "%"),
    "16 kHz wall": at_most(1.12),
    "resampling passband": at_most(0.1, " dB"),
    "resampling other": below(-90, " dBFS"),
    "slt wall": at_most(0.52),
    "kal16 wall": at_most(0.73),
    "loudness wall": at_most(1.3),
    "loudness reached": within(-18, 0.3, " LUFS"),
    "epub wall": at_most(1.10),
    "read-along wall": at_most(1.2),
    "m4b wall": at_most(1.3),
    "m4b words": within(0, 1, " point"),
    "audiobook wall": at_most(1.5),
    "audiobook vs script wall": at_most(0.10),
    "timings wall": at_most(1.05),
    "kept chunks wall": at_most(1.05),
    "parallel efficiency": at_least(0.97),
    "peak memory": at_most(64, " MB"),
    "flat time": Target("flat: largest ≤ 1.10 × smallest", lambda spread: spread <= 1.10),
}


def row(what, measured, *checks):
    """A row of the table: checks are (name in TARGETS, measured value); it is met when all are."""
    return Row(what=what, wanted=" / ".join(TARGETS[name].wanted for name, _ in checks), measured=measured,
               met=all(TARGETS[name].met(value) for name, value in checks))


def rows_table(rows):
    lines = ["| target | wanted | measured | verdict |", "|---|---|---|---|"]
    return lines + [f"| {r.what} | {r.wanted} | {r.measured} | {'met' if r.met else '**missed**'} |" for r in rows]
