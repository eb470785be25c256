#!/usr/bin/python3
"""Whole searches of the sample site through velmora-cli, against the floor and a reference.

Starts velmora-sample-site (10 result pages x 20 companies, 30 KB company pages) at 0 ms and at
20 ms latency per request, runs velmora-cli over it and reports, per latency, the median wall
time of RUNS runs against the floor (requests x latency), CPU time per company page, context
switches per search and peak memory. CPU per company page is the search's CPU less a bare
start-up's (the program run with --help: loading, linking, start and exit), divided by the
company pages. At both latencies it also runs reference_crawler.py, a plain serial keep-alive
crawler making the same requests and matches, and reports velmora-cli's wall time as a share of
its time; at 0 ms also the floor under the CPU figure: search_plain_fetcher making the same
requests through plain libcurl and nothing else, on one thread, and with a thread per company
page as velmora-cli starts them. Runs take turns run by run, so that all meet the same machine
state, after one search that is not measured: the site keeps the pages it has rendered, and every measured run
finds them. At 0 ms it also pairs velmora-cli keeping its rows in the journal against
--no-journal, run by run, and reports the median of the pairs' ratios. With --against OTHER_CLI
it pairs another build of velmora-cli against this one the same way, with the journal and
without, at both latencies. The runs keep their searches in one journal of the script's own, a
temporary file that grows as a user's does, never the user's; they read no settings file and take
their turns on a worker lock of their own, so that another copy of Velmora running meanwhile (a
window, a test) neither holds them up nor changes what they do.

With --parallel it measures the parallel search instead, paired run by run with the serial
search in the same run: the sample site at 100 ms latency per request, 100 result pages x 20
companies; velmora-cli serial, --parallel 4 and --parallel 8 take turns, every run keeping its
rows in the journal. It reports each one's wall time and CPU per company page, the medians of the
pairs' ratios against the serial search, the floor of each (its requests x the latency / N) and
how long velmora-cli --parallel 8 takes to end after a Ctrl-C in mid-search. Beside each N run
scrapy_spider.py, the same job done by Scrapy (Debian's python3-scrapy) with N requests in flight,
with AutoThrottle and without, in the same turns: each one's wall, CPU per company page and peak
memory, velmora-cli --parallel N's wall and CPU per page as a share of each, and whether every
program gave the serial search's rows (as sets: the parallel searches and Scrapy keep the order
the answers come in). --pages and --latency-ms make that site smaller or quicker, for a profile's
quick turns; the figures to report are the defaults'.

Usage: run_search_bench.py [BUILD_DIR] [--runs N] [--against OTHER_CLI]
       run_search_bench.py [BUILD_DIR] --parallel [--runs N] [--pages N] [--latency-ms N]
       (BUILD_DIR defaults to ./build)
"""

import csv
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

PAGES = 10
LINKS_PER_PAGE = 20
COMPANIES = PAGES * LINKS_PER_PAGE
COMPANY_PAGE_BYTES = 30000
KEYWORD = "机械"
# Two probes of the search URL, the result pages, one request per company.
REQUESTS = 2 + PAGES + PAGES * LINKS_PER_PAGE
HERE = os.path.dirname(os.path.abspath(__file__))
SPIDER = os.path.join(HERE, "scrapy_spider.py")


# The parallel search's benchmark: a search of 2,000 companies at a real site's latency.
PARALLEL_PAGES = 100
PARALLEL_LATENCY_MS = 100
PARALLEL_WORKERS = (4, 8)
# Ctrl-C comes this long into the search whose stop is timed.
STOP_AFTER_S = 5


def start_site(build, latency_ms, pages=PAGES):
    site = subprocess.Popen(
        [os.path.join(build, "tools", "velmora-sample-site"), "--pages", str(pages),
         "--links-per-page", str(LINKS_PER_PAGE), "--company-page-bytes",
         str(COMPANY_PAGE_BYTES), "--latency-ms", str(latency_ms)],
        stdout=subprocess.PIPE, text=True)
    url = site.stdout.readline().strip()
    if not url.startswith("http://"):
        site.kill()
        sys.exit("the sample site did not start")
    return site, url


class Run:
    """One child run: wall and CPU seconds (user + system), context switches (voluntary and
    involuntary), peak resident KiB."""

    def __init__(self, command, rows):
        """Runs `command`; `rows` is the number of lines it must print, None for any."""
        began = time.monotonic()
        child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = child.stdout.read()
        self.out = out
        _, status, usage = os.wait4(child.pid, 0)
        self.wall = time.monotonic() - began
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("failed: %s" % " ".join(command))
        if rows is not None and out.count(b"\n") != rows:
            sys.exit("%s gave %d rows, not %d" % (command[0], out.count(b"\n"), rows))
        self.cpu = usage.ru_utime + usage.ru_stime
        self.switches = usage.ru_nvcsw + usage.ru_nivcsw
        self.peak = usage.ru_maxrss


def printed_rows(run):
    """The rows velmora-cli printed, one line each."""
    return run.out.decode("utf-8", "replace").splitlines()


# velmora-cli's escapes for the characters a line of tab-separated fields cannot hold as they are.
FIELD_ESCAPES = {"\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n"}


def escape_field(field):
    """A field as velmora-cli prints it."""
    out = []
    for ch in field:
        code = ord(ch)
        if ch in FIELD_ESCAPES:
            out.append(FIELD_ESCAPES[ch])
        elif code < 0x20 or code == 0x7F:
            out.append("\\x%02x" % code)
        elif 0x80 <= code <= 0x9F:
            out.append("\\u%04x" % code)
        else:
            out.append(ch)
    return "".join(out)


def csv_rows(path):
    """The rows of the spider's CSV file (after its header), each as velmora-cli prints a row."""
    with open(path, newline="", encoding="utf-8") as f:
        return ["\t".join(escape_field(cell) for cell in row) for row in list(csv.reader(f))[1:]]


class Program:
    """A search command and the bare start-up its CPU is counted from. `rows_of` reads a run's
    rows; by default they are the lines it printed, and there must be one per company."""

    def __init__(self, name, search, startup, companies=COMPANIES, rows_of=None):
        self.name, self.search, self.startup = name, search, startup
        self.companies = companies
        self.rows_of = rows_of
        self.runs, self.startups = [], []
        # The rows of each run, sorted.
        self.rows = []

    def measure(self):
        run = Run(self.search, None if self.rows_of else self.companies)
        self.runs.append(run)
        self.rows.append(sorted((self.rows_of or printed_rows)(run)))
        self.startups.append(Run(self.startup, None))

    def wall(self):
        return statistics.median(r.wall for r in self.runs)

    def cpu_per_page_us(self):
        cpu = statistics.median(r.cpu for r in self.runs)
        bare = statistics.median(r.cpu for r in self.startups)
        return (cpu - bare) * 1e6 / self.companies

    def line(self, floor):
        text = "%s: wall %.3f s" % (self.name, self.wall())
        if floor > 0:
            text += " (%+.1f %% over the floor %.3f s)" % ((self.wall() / floor - 1) * 100, floor)
        return text + ", CPU %.0f us per company page, %d context switches per search, " \
            "peak memory %.1f MiB" % (self.cpu_per_page_us(),
                                      statistics.median(r.switches for r in self.runs),
                                      max(r.peak for r in self.runs) / 1024)


def alternate(programs, runs):
    """Each program's RUNS runs, the programs taking turns after one unmeasured search."""
    Run(programs[0].search, programs[0].companies)
    for _ in range(runs):
        for program in programs:
            program.measure()


def pair_ratios(a, b):
    """Medians of the pairs' ratios a/b: wall, CPU."""
    wall = statistics.median(x.wall / y.wall for x, y in zip(a.runs, b.runs))
    cpu = statistics.median(x.cpu / y.cpu for x, y in zip(a.runs, b.runs))
    return wall, cpu


def cli_program(name, cli, url, extra=()):
    return Program(name, [cli, *extra, "--site", url, KEYWORD], [cli, "--help"])


def stop_latency(cli, url, extra):
    """Seconds from a Ctrl-C in mid-search to the program's end."""
    child = subprocess.Popen([cli, *extra, "--site", url, KEYWORD], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    time.sleep(STOP_AFTER_S)
    began = time.monotonic()
    child.send_signal(signal.SIGINT)
    child.wait()
    return time.monotonic() - began


def scrapy_available():
    return subprocess.run([sys.executable, "-c", "import scrapy"], stderr=subprocess.DEVNULL,
                          check=False).returncode == 0


def scrapy_program(url, workers, throttled, companies, folder):
    """scrapy_spider.py with `workers` requests in flight, writing its rows into `folder`."""
    label = "AutoThrottle" if throttled else "unthrottled"
    rows = os.path.join(folder, "scrapy-%d-%s.csv" % (workers, label))
    return Program("Scrapy N=%d %s" % (workers, label),
                   [sys.executable, SPIDER, url, KEYWORD, rows, "--concurrency", str(workers)] +
                   (["--autothrottle"] if throttled else []),
                   [sys.executable, SPIDER, "--help"], companies,
                   rows_of=lambda run: csv_rows(rows))


def parallel_main(build, cli, runs, pages=PARALLEL_PAGES, latency_ms=PARALLEL_LATENCY_MS):
    companies = pages * LINKS_PER_PAGE
    latency = latency_ms / 1000
    print("parallel search: %d pages x %d companies, %d KB company pages, %d ms latency, "
          "median of %d runs" % (pages, LINKS_PER_PAGE, COMPANY_PAGE_BYTES // 1000, latency_ms,
                                 runs))
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    site, url = start_site(build, latency_ms, pages)
    try:
        serial = Program("serial", [cli, "--site", url, KEYWORD], [cli, "--help"], companies)
        # The serial search asks for the first page twice; the parallel one reads robots.txt
        # and asks for it once.
        floors = {serial: (2 + pages + companies) * latency}
        parallel = []
        # Each N's Scrapy runs, with AutoThrottle and without.
        peers = {}
        with_scrapy = scrapy_available()
        rows_folder = tempfile.TemporaryDirectory()
        for workers in PARALLEL_WORKERS:
            program = Program("--parallel %d" % workers,
                              [cli, "--parallel", str(workers), "--site", url, KEYWORD],
                              [cli, "--help"], companies)
            floors[program] = (2 + pages + companies) * latency / workers
            parallel.append(program)
            if with_scrapy:
                peers[program] = [scrapy_program(url, workers, throttled, companies,
                                                 rows_folder.name) for throttled in (True, False)]
                for peer in peers[program]:
                    # It asks for the first page once and then for page 1 again.
                    floors[peer] = (1 + pages + companies) * latency / workers
        if not with_scrapy:
            print("Scrapy is not installed (Debian's python3-scrapy): it is left out")
        # The unmeasured first search is the quickest one's.
        everyone = parallel[::-1] + [serial] + [p for ps in peers.values() for p in ps]
        alternate(everyone, runs)
        for program in [serial] + parallel + [p for ps in peers.values() for p in ps]:
            print(program.line(floors[program]))
        for program in parallel:
            wall, _ = pair_ratios(program, serial)
            print("%s / serial, median of the pairs: wall %.3f, CPU per company page %.2f" % (
                program.name, wall, program.cpu_per_page_us() / serial.cpu_per_page_us()))
            for peer in peers.get(program, []):
                wall, _ = pair_ratios(program, peer)
                print("%s / %s, median of the pairs: wall %.3f, CPU per company page %.3f, "
                      "peak memory %.2f" % (
                          program.name, peer.name, wall,
                          program.cpu_per_page_us() / peer.cpu_per_page_us(),
                          max(r.peak for r in program.runs) / max(r.peak for r in peer.runs)))
        for program in everyone:
            if program is serial:
                continue
            equal = sum(rows == serial.rows[0] for rows in program.rows)
            print("%s: the serial search's rows in %d of %d runs" % (
                program.name, equal, len(program.rows)))
        stops = [stop_latency(cli, url, ["--parallel", str(PARALLEL_WORKERS[-1])])
                 for _ in range(runs)]
        print("--parallel %d ends %.3f s after a Ctrl-C (median of %d)" % (
            PARALLEL_WORKERS[-1], statistics.median(stops), runs))
    finally:
        site.terminate()
        site.wait()
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


def take_option(args, name, default, convert=int):
    """The value after `name` in args, both taken out; `default` when it is not there."""
    if name not in args:
        return default
    at = args.index(name)
    value = convert(args[at + 1])
    del args[at:at + 2]
    return value


def private_folder():
    """A temporary folder for the runs' journal, settings and locks, set in their environment."""
    folder = tempfile.TemporaryDirectory()
    os.environ["VELMORA_JOURNAL"] = os.path.join(folder.name, "journal.sqlite3")
    os.environ["XDG_CONFIG_HOME"] = folder.name
    os.environ["XDG_RUNTIME_DIR"] = folder.name
    return folder


def main():
    args = sys.argv[1:]
    parallel = "--parallel" in args
    if parallel:
        args.remove("--parallel")
    runs = take_option(args, "--runs", 5)
    against = take_option(args, "--against", None, os.path.abspath)
    pages = take_option(args, "--pages", PARALLEL_PAGES)
    latency_ms = take_option(args, "--latency-ms", PARALLEL_LATENCY_MS)
    build = os.path.abspath(args[0] if args else "build")
    cli = os.path.join(build, "cli", "velmora-cli")
    if parallel:
        folder = private_folder()
        parallel_main(build, cli, runs, pages, latency_ms)
        return

    print("whole search: %d pages x %d companies, %d KB company pages, %d requests, "
          "median of %d runs" % (PAGES, LINKS_PER_PAGE, COMPANY_PAGE_BYTES // 1000, REQUESTS, runs))
    # Other work on the machine shows in every figure; the load average says how much.
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    folder = private_folder()
    for latency_ms in (0, 20):
        site, url = start_site(build, latency_ms)
        floor = REQUESTS * latency_ms / 1000
        prefix = "latency %2d ms, " % latency_ms
        try:
            velmora = cli_program(prefix + "velmora-cli", cli, url)
            reference = Program(
                prefix + "reference crawler (Python)",
                [sys.executable, os.path.join(HERE, "reference_crawler.py"), url, KEYWORD],
                [sys.executable, "-c", "import sys; sys.path.insert(0, %r); "
                 "import reference_crawler" % HERE])
            alternate([velmora, reference], runs)
            print(velmora.line(floor))
            print(reference.line(floor))
            print("%svelmora-cli takes %.2f of the reference's wall time" % (
                prefix, velmora.wall() / reference.wall()))
            if latency_ms == 0:
                fetcher = os.path.join(build, "bench", "search", "search_plain_fetcher")
                floors = [Program(prefix + "plain libcurl" + label, [fetcher, url, KEYWORD, *extra],
                                  [fetcher, "--start"])
                          for label, extra in (("", ()), (", a thread per company page",
                                                          ("--thread-per-page",)))]
                alternate(floors, runs)
                for program in floors:
                    print(program.line(floor))
                bare = cli_program(prefix + "velmora-cli --no-journal", cli, url, ["--no-journal"])
                journal = cli_program(prefix + "velmora-cli", cli, url)
                alternate([journal, bare], runs)
                print(bare.line(floor))
                print("%sthe journal, median of the pairs: wall %+.1f %%, CPU %+.1f %%" % (
                    prefix, *((r - 1) * 100 for r in pair_ratios(journal, bare))))
            if against:
                for extra in ((), ("--no-journal",)):
                    label = " ".join(("velmora-cli",) + extra)
                    old = cli_program(prefix + "other " + label, against, url, extra)
                    new = cli_program(prefix + "this " + label, cli, url, extra)
                    alternate([old, new], runs)
                    print(old.line(floor))
                    print(new.line(floor))
                    print("%sthis / other %s, median of the pairs: wall %.2f, CPU %.2f" % (
                        prefix, label, *pair_ratios(new, old)))
        finally:
            site.terminate()
            site.wait()
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
