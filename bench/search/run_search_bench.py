#!/usr/bin/python3
"""Whole searches of the sample site through velmora-cli, against the floor and a reference.

Starts velmora-sample-site (10 result pages x 20 companies, 30 KB company pages) at 0 ms and at
20 ms latency per request, runs velmora-cli over it and reports, per latency, the median wall
time of RUNS runs against the floor (requests x latency), CPU time per company page and peak
memory. At both latencies it also runs reference_crawler.py, a plain serial keep-alive crawler
making the same requests and matches, and reports velmora-cli's time as a share of its time.
The two take turns run by run, so that both meet the same machine state, after one search that
is not measured: the site keeps the pages it has rendered, and every measured run finds them.
At 0 ms it also pairs velmora-cli keeping its rows in the journal against --no-journal, run by
run, and reports the median of the pairs' ratios. Every run's journal is a fresh temporary file
of the script's own, never the user's.

Usage: run_search_bench.py [BUILD_DIR] [--runs N]   (BUILD_DIR defaults to ./build)
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

PAGES = 10
LINKS_PER_PAGE = 20
COMPANY_PAGE_BYTES = 30000
KEYWORD = "机械"
# Two probes of the search URL, the result pages, one request per company.
REQUESTS = 2 + PAGES + PAGES * LINKS_PER_PAGE
HERE = os.path.dirname(os.path.abspath(__file__))


def start_site(build, latency_ms):
    site = subprocess.Popen(
        [os.path.join(build, "tools", "velmora-sample-site"), "--pages", str(PAGES),
         "--links-per-page", str(LINKS_PER_PAGE), "--company-page-bytes",
         str(COMPANY_PAGE_BYTES), "--latency-ms", str(latency_ms)],
        stdout=subprocess.PIPE, text=True)
    url = site.stdout.readline().strip()
    if not url.startswith("http://"):
        site.kill()
        sys.exit("the sample site did not start")
    return site, url


def measure(command):
    """Wall seconds, CPU seconds (user + system) and peak resident KiB of one child run."""
    began = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - began
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s" % " ".join(command))
    rows = out.count(b"\n")
    if rows != PAGES * LINKS_PER_PAGE:
        sys.exit("%s gave %d rows, not %d" % (command[0], rows, PAGES * LINKS_PER_PAGE))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def summary(results):
    """Median wall and CPU seconds and the highest peak memory of several runs."""
    wall = statistics.median(r[0] for r in results)
    cpu = statistics.median(r[1] for r in results)
    peak = max(r[2] for r in results)
    return wall, cpu, peak


def alternating_runs(commands, runs):
    """Each command's RUNS results, the commands taking turns after one unmeasured run of the
    first."""
    measure(commands[0])
    results = [[] for _ in commands]
    for _ in range(runs):
        for command, result in zip(commands, results):
            result.append(measure(command))
    return results


def journal_cost(cli, url, runs):
    """velmora-cli with the journal against --no-journal at 0 ms: medians and pair ratios."""
    with_journal, without = alternating_runs(
        [[cli, "--site", url, KEYWORD], [cli, "--no-journal", "--site", url, KEYWORD]], runs)
    wall_ratio = statistics.median(a[0] / b[0] for a, b in zip(with_journal, without))
    cpu_ratio = statistics.median(a[1] / b[1] for a, b in zip(with_journal, without))
    (wall, cpu, _), (bare_wall, bare_cpu, _) = summary(with_journal), summary(without)
    print("latency  0 ms: with the journal %.3f s, CPU %.3f s; with --no-journal %.3f s, CPU "
          "%.3f s; median of the pairs: wall %+.1f %%, CPU %+.1f %%" % (
              wall, cpu, bare_wall, bare_cpu, (wall_ratio - 1) * 100, (cpu_ratio - 1) * 100))


def main():
    args = sys.argv[1:]
    runs = 5
    if "--runs" in args:
        at = args.index("--runs")
        runs = int(args[at + 1])
        del args[at:at + 2]
    build = os.path.abspath(args[0] if args else "build")
    cli = os.path.join(build, "cli", "velmora-cli")
    companies = PAGES * LINKS_PER_PAGE

    print("whole search: %d pages x %d companies, %d KB company pages, %d requests, "
          "median of %d runs" % (PAGES, LINKS_PER_PAGE, COMPANY_PAGE_BYTES // 1000, REQUESTS, runs))
    # Other work on the machine shows in every figure; the load average says how much.
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    journal_folder = tempfile.TemporaryDirectory()
    os.environ["VELMORA_JOURNAL"] = os.path.join(journal_folder.name, "journal.sqlite3")
    for latency_ms in (0, 20):
        site, url = start_site(build, latency_ms)
        try:
            reference = [sys.executable, os.path.join(HERE, "reference_crawler.py"), url, KEYWORD]
            (wall, cpu, peak), (ref_wall, ref_cpu, ref_peak) = (
                summary(result) for result in alternating_runs(
                    [[cli, "--site", url, KEYWORD], reference], runs))
            floor = REQUESTS * latency_ms / 1000
            line = "latency %2d ms: velmora-cli %.3f s" % (latency_ms, wall)
            if floor > 0:
                line += ", floor %.3f s, %+.1f %% over the floor" % (floor, (wall / floor - 1) * 100)
            line += ", CPU %.2f ms per company page, peak memory %.1f MiB" % (
                cpu * 1000 / companies, peak / 1024)
            print(line)
            print("latency %2d ms: reference crawler (Python) %.3f s, CPU %.2f ms per company "
                  "page, peak memory %.1f MiB; velmora-cli takes %.2f of its time" % (
                      latency_ms, ref_wall, ref_cpu * 1000 / companies, ref_peak / 1024,
                      wall / ref_wall))
            if latency_ms == 0:
                journal_cost(cli, url, runs)
        finally:
            site.terminate()
            site.wait()
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
