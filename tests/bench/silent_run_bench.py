#!/usr/bin/env python3
"""Times the silent removal of the largest shipped product by two builds of the exe in one
run under Wine, alternating them round by round, and prints the ratio of their medians.

    silent_run_bench.py --prefix P --bin DIR --resources DIR --before EXE --after EXE [--rounds N]

Run it on a display (tests/e2e/with-xvfb.sh P python3 ...): a silent run creates its hidden
window. tests/bench/silent-run-bench.sh builds both exes and does all of that. Each round
plants the product's traces afresh (untimed), then times one whole process, from its start
to its exit, of `EXE -silent -product NAME` (wall clock, and the CPU time of the process),
and checks that the traces are gone. The
prefix's wineserver stays up throughout, and an untimed run of the same exe goes before
each timed one, so every timed start is equally warm.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import wizard_e2e as e2e  # noqa: E402


def largest(products):
    return max(products, key=lambda p: len(p["removal"]))


def plant(wine, products, product):
    """Cleans every product's traces and plants this one's, without registry snapshots."""
    path = os.path.join(wine.args.work, "bench-unplant.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(e2e.cleanup_list(products))
    rc, _ = wine.driver("unplant", "Z:" + path.replace("/", "\\"))
    e2e.check(rc == 0, "cleaning the traces failed")
    wine.reg_import(e2e.traces(product), "bench-plant.reg")


def removed(wine, product):
    """True when the key of the product's first complete-key rule is gone (one query: each
    costs a Wine start)."""
    rule = next(r for r in product["removal"] if r["action"] == "CompleteKey")
    result = wine.run("reg", "query", e2e.reg_path(rule["root"], rule["key"]), "/reg:32")
    return result.returncode != 0


def timed_run(wine, exe, name):
    """Wall-clock seconds of the whole process, and the CPU seconds it used itself (user and
    system; Wine runs the Windows program in the process it starts). On a busy machine the
    CPU time is the steadier measure of the work done."""
    start = time.perf_counter()
    process = subprocess.Popen([e2e.WINE, exe, "-silent", "-product", name], env=wine.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    e2e.check(process.returncode == 0, "%s ended with %d" % (exe, process.returncode))
    return seconds, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--resources", required=True)
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    args.work = os.path.join(os.path.dirname(args.prefix), "e2e-work")
    os.makedirs(args.work, exist_ok=True)
    wine = e2e.Wine(args)
    products = e2e.load_products(args.resources)
    product = largest(products)
    print("product: %s (%d removal rules)" % (product["name"], len(product["removal"])))

    server = subprocess.Popen([e2e.WINESERVER, "-p"], env=wine.env)
    wall = {"before": [], "after": []}
    cpu = {"before": [], "after": []}
    try:
        variants = [("before", args.before), ("after", args.after)]
        for round_ in range(args.rounds):
            order = variants if round_ % 2 == 0 else variants[::-1]
            for label, exe in order:
                # Starting the other exe costs its first run extra (measured: about 0.3 s
                # under Wine); an untimed run of the same exe, with nothing to remove,
                # makes every timed run a warm one.
                timed_run(wine, exe, product["name"])
                plant(wine, products, product)
                seconds, used = timed_run(wine, exe, product["name"])
                e2e.check(removed(wine, product), "%s left traces" % label)
                wall[label].append(seconds)
                cpu[label].append(used)
                print("round %2d %-6s %.3f s wall, %.3f s CPU" % (round_ + 1, label, seconds, used),
                      flush=True)
    except e2e.Failure as failure:
        print("FAILED:", failure)
        return 1
    finally:
        subprocess.run([e2e.WINESERVER, "-k"], env=wine.env)
        server.wait()

    for what, times in (("wall", wall), ("CPU", cpu)):
        for label in ("before", "after"):
            t = times[label]
            print("%-4s %-6s median %.3f s, mean %.3f s, min %.3f s, max %.3f s (%d runs)" %
                  (what, label, statistics.median(t), statistics.mean(t), min(t), max(t), len(t)))
        ratio = statistics.median(times["after"]) / statistics.median(times["before"])
        print("%-4s after / before (medians): %.3f, i.e. %.1f%% faster" %
              (what, ratio, (1 - ratio) * 100))
        # The two runs of a round are next to each other in time, so the load of the
        # machine weighs on both alike: the median of the rounds' own ratios.
        paired = statistics.median(a / b for a, b in zip(times["after"], times["before"]))
        print("%-4s after / before (median of the rounds' ratios): %.3f, i.e. %.1f%% faster" %
              (what, paired, (1 - paired) * 100))
    return 0


if __name__ == "__main__":
    sys.exit(main())
