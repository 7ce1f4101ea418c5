#!/usr/bin/env python3
"""Summarises bench/run's results: one line per run,
"<round> <contender> <ms> <peak private> <peak working set> <exit code> [phase=ms...]",
and per round "<round> check <first ms> <median ms> <passes> <bytes>".

usage: report.py <results.txt>"""
import collections
import statistics
import sys

PAYLOAD = 18723697
# The package's phases in the order of a run; each mark ends its phase.
PHASES = [
    ("load", "process start to wWinMain (loader, runtime)"),
    ("startup", "DLL search, common controls, options, version check"),
    ("window", "notification window"),
    ("checks", "single instance, Administrators, port options"),
    ("root", "working folder prepared"),
    ("payload", "39 files checked and written"),
    ("ports-file", "PORTS.dat"),
    ("child-start", "setup.exe started"),
    ("child-wait", "dialog polling and the wait"),
    ("exit-code", "10 ms pause, exit-code read"),
    ("cleanup", "quit request, tree removed"),
    ("message-loop", "message loop"),
]


def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def print_phases(runs, rounds, label):
    phased = [r for r in rounds if label in runs[r]
              and all(p in runs[r][label][1] for p, _ in PHASES)]
    if phased:
        print(f"phases of {label} ({len(phased)} rounds, medians; the phase "
              f"build's own total: {statistics.median(runs[r][label][0][0] for r in phased):.1f} ms)")
        # The floor notes the marks it shares with the package; a phase it has
        # no mark for is counted into its next one.
        floor_rounds = [r for r in phased if "floor_job" in runs[r]]
        if floor_rounds:
            print(f"  {'phase':13s} {label[:-7]:8s} floor-job ({len(floor_rounds)} rounds)")
        previous = {r: 0.0 for r in phased}
        floor_previous = {r: 0.0 for r in floor_rounds}
        for phase, what in PHASES + [("exit", "end of wWinMain to the process's end")]:
            spans = []
            for r in phased:
                numbers, stamps = runs[r][label]
                at = stamps[phase] if phase != "exit" else numbers[0]
                spans.append(at - previous[r])
                previous[r] = at
            floor_text = ""
            if floor_rounds:
                floor_spans = []
                for r in floor_rounds:
                    numbers, stamps = runs[r]["floor_job"]
                    at = numbers[0] if phase == "exit" else stamps.get(phase)
                    if at is None:
                        break
                    floor_spans.append(at - floor_previous[r])
                    floor_previous[r] = at
                floor_text = (f"{statistics.median(floor_spans):8.2f}   "
                              if len(floor_spans) == len(floor_rounds) else "       —   ")
            print(f"  {phase:13s} {statistics.median(spans):7.2f} ms {floor_text}  {what}")



def main(path):
    runs = collections.defaultdict(dict)  # round -> contender -> (numbers, stamps)
    checks = {}
    for line in open(path):
        parts = line.split()
        if len(parts) < 3:
            continue
        rnd, label, fields = int(parts[0]), parts[1], parts[2:]
        if label == "check":
            checks[rnd] = list(map(float, fields))
            continue
        numbers = list(map(float, fields[:4]))
        stamps = dict((k, float(v)) for k, v in (f.split("=") for f in fields[4:]))
        runs[rnd][label] = (numbers, stamps)

    rounds = sorted(r for r in runs if "package" in runs[r] and "baseline_gui" in runs[r])
    known = ["package", "baseline", "baseline_gui", "floor_job", "7zip_sfx", "nsis",
             "package_phases"]
    extra = sorted({l for r in rounds for l in runs[r]} - set(known))
    labels = [l for l in known + extra if all(l in runs[r] for r in rounds)]
    print(f"rounds: {len(rounds)}")
    floor = "floor_job" in labels
    print("contender        median ms   /baseline (quartiles)   /GUI baseline (quartiles)"
          + ("   /floor-job (quartiles)" if floor else "")
          + "   to setup.exe start   exit codes")
    for label in labels:
        ms = [runs[r][label][0][0] for r in rounds]
        vs_base = [runs[r][label][0][0] / runs[r]["baseline"][0][0] for r in rounds]
        vs_gui = [runs[r][label][0][0] / runs[r]["baseline_gui"][0][0] for r in rounds]
        setup = [runs[r][label][1]["setup"] for r in rounds if "setup" in runs[r][label][1]]
        codes = sorted({int(runs[r][label][0][3]) for r in rounds})
        qb, qg = quartiles(vs_base), quartiles(vs_gui)
        setup_text = f"{statistics.median(setup):8.1f} ms" if setup else "       —   "
        floor_text = ""
        if floor:
            vs_floor = [runs[r][label][0][0] / runs[r]["floor_job"][0][0] for r in rounds]
            qf = quartiles(vs_floor)
            floor_text = f"   {statistics.median(vs_floor):.3f} ({qf[0]:.3f}–{qf[1]:.3f})"
        print(f"{label:15s} {statistics.median(ms):9.1f}   {statistics.median(vs_base):.3f} "
              f"({qb[0]:.3f}–{qb[1]:.3f})   {statistics.median(vs_gui):.3f} "
              f"({qg[0]:.3f}–{qg[1]:.3f}){floor_text}          {setup_text}        {codes}")

    for label in ["7zip_sfx", "nsis"] + extra:
        if label in labels:
            below = sum(runs[r]["package"][0][0] < runs[r][label][0][0] for r in rounds)
            ratio = [runs[r]["package"][0][0] / runs[r][label][0][0] for r in rounds]
            print(f"package / {label}: median {statistics.median(ratio):.3f}; "
                  f"package faster in {below} of {len(rounds)} rounds")

    peak = max(runs[r]["package"][0][1] for r in rounds)
    peak_ws = max(runs[r]["package"][0][2] for r in rounds)
    base = max(runs[r]["baseline"][0][1] for r in rounds)
    print(f"package peak private memory: {peak / 1048576:.1f} MiB (baseline "
          f"{base / 1048576:.1f} MiB; payload {PAYLOAD / 1048576:.1f} MiB); peak working set "
          f"{peak_ws / 1048576:.1f} MiB")

    for label in ["package_phases"] + [l for l in extra if l.endswith("_phases")]:
        print_phases(runs, rounds, label)

    if checks:
        common = [r for r in rounds if r in checks]
        check_ms = [checks[r][1] for r in common]
        share = [checks[r][1] / runs[r]["package"][0][0] for r in common]
        q = quartiles(share)
        print(f"payload check, in-process ({int(checks[common[0]][2])} passes a round over "
              f"{int(checks[common[0]][3])} bytes): median {statistics.median(check_ms):.2f} ms; "
              f"share of the package's run: median {100 * statistics.median(share):.1f} % "
              f"(quartiles {100 * q[0]:.1f} .. {100 * q[1]:.1f} %)")


if __name__ == "__main__":
    main(sys.argv[1])
