"""The history search over years of daily logs, against grep over the same files.

    python3 bench/historybench.py <build folder> [--smoke]

Generates 3,650 daily files (about 1 GB, code page 932, Japanese and ASCII mixed) into a
temporary folder under the build folder, reads them once so the page cache holds them, then
times, shuffled among each other, the search for a Japanese word and for a word in full-width
letters (one process each, timed inside it) and grep -c -F for the exact bytes of the same word
(timed as a process: it cannot fold width or case, so it finds fewer lines). Also the history
window's first result on screen and last result for a year of logs, and the search's peak
memory for one year against ten. The folder is removed afterwards. --smoke does all of it once
on a few small files: the test suite's guard against rot.
"""

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

QUERIES = (("a Japanese word", "議事録"), ("a word in full-width letters", "ＶＰＮ"))
FULL = {"days": 3650, "bytes_per_day": 290000, "repetitions": 7, "year": 365}
SMOKE = {"days": 8, "bytes_per_day": 40000, "repetitions": 1, "year": 4}


def run_json(command):
    out = subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return json.loads(out.decode().strip().splitlines()[-1])


def grep_count(folder, word):
    """grep -c -F for the word's code page 932 bytes over every file: lines and seconds."""
    start = time.perf_counter()
    result = subprocess.run([b"grep", b"-r", b"-c", b"-F", b"--", word.encode("cp932"), folder.encode()],
                            stdout=subprocess.PIPE, env=dict(os.environ, LC_ALL="C"))
    seconds = time.perf_counter() - start
    if result.returncode not in (0, 1):
        raise RuntimeError("grep failed")
    lines = sum(int(line.rsplit(b":", 1)[1]) for line in result.stdout.splitlines())
    return lines, seconds


def spread(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "samples": values}


def measure(build, smoke=False):
    sizes = SMOKE if smoke else FULL
    program = os.path.join(build, "bench", "vorlan_bench_history")
    folder = tempfile.mkdtemp(prefix="history-bench-", dir=build)
    try:
        generated = run_json([program, "generate", folder, str(sizes["days"]), str(sizes["bytes_per_day"])])
        for name in os.listdir(folder):  # into the page cache
            with open(os.path.join(folder, name), "rb") as file:
                while file.read(1 << 20):
                    pass
        results = {"files": generated["files"], "bytes": generated["bytes"], "queries": {}}
        for label, word in QUERIES:
            ours, theirs, found, grepped = [], [], None, None
            runs = ["ours", "grep"] * sizes["repetitions"]
            random.shuffle(runs)
            for which in runs:
                if which == "ours":
                    result = run_json([program, "search", folder, word])
                    ours.append(result["seconds"])
                    found = result["hits"]
                else:
                    grepped, seconds = grep_count(folder, word)
                    theirs.append(seconds)
            results["queries"][word] = {"label": label, "ours": spread(ours), "grep": spread(theirs),
                                        "lines": found, "grep_lines": grepped}
        word = QUERIES[0][1]
        windows = [run_json([program, "window", folder, word, str(sizes["year"])])
                   for _ in range(sizes["repetitions"])]
        results["window_year"] = {"first": spread([w["first"] for w in windows]),
                                  "last": spread([w["last"] for w in windows]),
                                  "hits": windows[0]["hits"]}
        year = run_json([program, "search", folder, word, str(sizes["year"])])
        decade = run_json([program, "search", folder, word])
        results["memory"] = {"year_kb": year["peak_kb"], "all_kb": decade["peak_kb"],
                             "year_bytes": year["bytes"], "all_bytes": decade["bytes"]}
        return results
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def check(results):
    """What the smoke run insists on: every part ran and found what it should."""
    problems = []
    for word, query in results["queries"].items():
        if not query["lines"] or query["lines"] < query["grep_lines"]:
            problems.append("%s: %s lines found, grep %s" % (word, query["lines"], query["grep_lines"]))
    window = results["window_year"]
    if window["hits"] <= 0 or window["first"]["max"] < 0:
        problems.append("the window listed no result")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    results = measure(os.path.abspath(args.build), smoke=args.smoke)
    print(json.dumps(results, indent=2))
    problems = check(results)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
