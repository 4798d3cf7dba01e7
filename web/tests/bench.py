"""A 50-simulation bot move in the browser and in the native portable build, in one run, and
the sizes the page downloads. Usage: bench.py WASM_BUILD_DIR NATIVE_TARNWICK [SIMS] [ROUNDS]

The two are measured in turns, ROUNDS times (3 by default), each browser round on a freshly
loaded page, and the ratio is taken within each round: on a shared machine the speed drifts
between runs by more than the difference measured."""
import gzip
import os
import re
import statistics
import subprocess
import sys
import time

from browser import Server, chromium, wait


def native(tarnwick, sims):
    text = subprocess.run([tarnwick, "bench", "--sims", str(sims), "--seed", "1"], check=True,
                          capture_output=True, text=True).stdout
    return {name: float(re.search(rf"move, {name} +([0-9.]+) ms", text).group(1))
            for name in ("start", "midgame")}


SETTLE_SECONDS = 5


def browser(site, sims):
    server = Server(site)
    driver = chromium()
    try:
        driver.get(server.address)
        wait(driver, lambda: driver.execute_script("return window.tarnwickTimings"), 300)
        timings = driver.execute_script("return window.tarnwickTimings")
        # On a busy machine the moves of the first seconds after load ran two to four times
        # slower, in unoptimised code or beside the browser's own start-up work, however many
        # warm-up moves; the page's idle warm-up runs meanwhile.
        time.sleep(SETTLE_SECONDS)
        driver.set_script_timeout(600)
        moves = driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            f"window.tarnwickBench({sims}, 15).then(done);")
        return timings, moves
    finally:
        driver.quit()
        server.stop()


def sizes(site):
    rows = []
    for name in ("tarnwick.wasm", "tarnwick.js", "model/weights.bin", "model/model.json"):
        data = open(os.path.join(site, name), "rb").read()
        rows.append((name, len(data), len(gzip.compress(data, 9))))
    return rows


def main():
    build, tarnwick = sys.argv[1], sys.argv[2]
    sims = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    site = os.path.join(build, "site")
    print(f"{sims}-simulation move, median of 15 after ten warm-up moves a position (browser) and"
          " of 9 (native portable):")
    ratios = {"start": [], "midgame": []}
    loads = []
    for number in range(1, rounds + 1):
        here = native(tarnwick, sims)
        timings, there = browser(site, sims)
        loads.append(timings)
        for name in ("start", "midgame"):
            ratios[name].append(there[name] / here[name])
            print(f"  round {number} {name:8} browser {there[name]:7.1f} ms   native portable"
                  f" {here[name]:7.1f} ms   ratio {ratios[name][-1]:.2f}")
    for name in ("start", "midgame"):
        print(f"  {name:8} median ratio {statistics.median(ratios[name]):.2f}")
    for timings in loads:
        print(f"page load: module {timings['startMs']:.0f} ms, model {timings['modelMs']:.0f} ms,"
              f" first move (warm-up, midgame) {timings['firstMoveMs']:.1f} ms")
    print("sizes (bytes, raw / gzip -9):")
    for name, raw, packed in sizes(site):
        print(f"  {name:18} {raw:9} / {packed:9}")


if __name__ == "__main__":
    main()
