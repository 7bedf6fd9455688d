#!/usr/bin/env python3
"""Prints the figures of docs/PERFORMANCE.md from scripts/bench's JSON results.

usage: report.py RESULTS_DIR
"""
import json
import os
import sys


def medians(path):
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b["cpu_time"]
    return out


def overhead(results):
    m = medians(os.path.join(results, "bench_overhead.json"))
    print("Vesk_RD over the simulated reader vs the same rf_ calls made directly (median CPU ns per call)\n")
    print("| operation | Vesk_RD ns | bare ns | added ns | ratio |")
    print("|---|---|---|---|---|")
    worst = 0.0
    for op, label in [("ReadSeriesNo", "MF_ReadSeriesNo"), ("RequestCardExist", "Quen_RequestCardExist"),
                      ("Login", "Quen_Login_With_UserKey"), ("ReadBlock", "Quen_ReadBlock"),
                      ("WriteBlock", "Quen_WriteBlock (card file off)")]:
        v, b = m["Vesk_" + op], m["Bare_" + op]
        worst = max(worst, v / b)
        print(f"| {label} | {v:.1f} | {b:.1f} | {v - b:+.1f} | {v / b:.3f} |")
    wake = m["Bare_Wake"]
    v, b = m["Vesk_SleepCard"], m["Bare_SleepCard"]
    print(f"| Quen_SleepCard, with the wake-up before it | {v:.1f} | {b:.1f} | {v - b:+.1f} | {v / b:.3f} |")
    hv, hb = v - wake, b - wake
    print(f"| Quen_SleepCard alone (wake-up of {wake:.1f} ns taken off) | {hv:.1f} | {hb:.1f} | {hv - hb:+.1f} | "
          f"{hv / hb:.3f} |")
    print(f"\nworst ratio of the five whole operations: {worst:.3f}")


def record(results):
    m = medians(os.path.join(results, "bench_record.json"))
    print("\nThe record (median CPU ns per call)\n")
    print("| what | short catalogue text | 1023-byte text |")
    print("|---|---|---|")
    base0, base1 = m["BM_PlainVsnprintf/0"], m["BM_PlainVsnprintf/1"]
    print(f"| plain vsnprintf into 1024 bytes | {base0:.1f} | {base1:.1f} |")
    f0 = m["BM_FailurePathRecords/0"]
    print(f"| card operation failing unbound (records) | {f0:.1f} ({f0 / base0:.2f}x) | |")
    for name, label in [("BM_SetLastErrMsgAlone", "SetLastErrMsg"),
                        ("BM_SetLastErrMsgThenGetLastErr", "SetLastErrMsg + Quen_GetLastErr")]:
        a, b = m[name + "/0"], m[name + "/1"]
        print(f"| {label} | {a:.1f} ({a / base0:.2f}x) | {b:.1f} ({b / base1:.2f}x) |")


def pcsc(results):
    path = os.path.join(results, "bench_pcsc.json")
    if not os.path.exists(path):
        return
    with open(path) as f:
        runs = [b for b in json.load(f)["benchmarks"] if b.get("aggregate_name") in (None, "median")]
    if not runs or "apdus_per_dump" not in runs[0]:
        print("\nPC/SC dump: not measured (no PC/SC stack)")
        return
    b = runs[0]
    print("\nA 1K dump (16 logins, 64 reads) through the PC/SC reader library and pcscd\n")
    print("| what | figure |")
    print("|---|---|")
    print(f"| APDUs of the first dump (fewest 97) | {b['apdus_first_dump']:.0f} (ratio {b['ratio_first_to_97']:.3f}) |")
    print(f"| APDUs of each later dump (fewest 96) | {b['apdus_per_dump']:.0f} (ratio {b['ratio_to_96']:.3f}) |")
    print(f"| wall time per dump | {b['real_time']:.0f} ms |")
    print(f"| wall time per APDU | {b['s_per_apdu'] * 1000:.1f} ms |")


def main():
    results = sys.argv[1]
    overhead(results)
    record(results)
    pcsc(results)


if __name__ == "__main__":
    main()
