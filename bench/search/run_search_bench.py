#!/usr/bin/python3
"""Whole searches of the sample site through velmora-cli, against the floor and a reference.

Starts velmora-sample-site (10 result pages x 20 companies, 30 KB company pages) at 0 ms and at
20 ms latency per request, runs velmora-cli over it and reports, per latency, the median wall
time of RUNS runs against the floor (requests x latency), CPU time per company page and peak
memory. At both latencies it also runs reference_crawler.py, a plain serial keep-alive crawler
making the same requests and matches, and reports velmora-cli's time as a share of its time.

Usage: run_search_bench.py [BUILD_DIR] [--runs N]   (BUILD_DIR defaults to ./build)
"""

import os
import statistics
import subprocess
import sys
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


def median_run(command, runs):
    results = [measure(command) for _ in range(runs)]
    wall = statistics.median(r[0] for r in results)
    cpu = statistics.median(r[1] for r in results)
    peak = max(r[2] for r in results)
    return wall, cpu, peak


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
    for latency_ms in (0, 20):
        site, url = start_site(build, latency_ms)
        try:
            wall, cpu, peak = median_run([cli, "--site", url, KEYWORD], runs)
            floor = REQUESTS * latency_ms / 1000
            line = "latency %2d ms: velmora-cli %.3f s" % (latency_ms, wall)
            if floor > 0:
                line += ", floor %.3f s, %+.1f %% over the floor" % (floor, (wall / floor - 1) * 100)
            line += ", CPU %.2f ms per company page, peak memory %.1f MiB" % (
                cpu * 1000 / companies, peak / 1024)
            print(line)
            reference = [sys.executable, os.path.join(HERE, "reference_crawler.py"), url, KEYWORD]
            ref_wall, ref_cpu, ref_peak = median_run(reference, runs)
            print("latency %2d ms: reference crawler (Python) %.3f s, CPU %.2f ms per company "
                  "page, peak memory %.1f MiB; velmora-cli takes %.2f of its time" % (
                      latency_ms, ref_wall, ref_cpu * 1000 / companies, ref_peak / 1024,
                      wall / ref_wall))
        finally:
            site.terminate()
            site.wait()


if __name__ == "__main__":
    main()
