"""A 50-simulation bot move in the browser and in the native portable build, in one run, and
the sizes the page downloads. Usage: bench.py WASM_BUILD_DIR NATIVE_TARNWICK [SIMS]"""
import gzip
import os
import re
import subprocess
import sys

from browser import Server, chromium, wait


def native(tarnwick, sims):
    text = subprocess.run([tarnwick, "bench", "--sims", str(sims), "--seed", "1"], check=True,
                          capture_output=True, text=True).stdout
    return {name: float(re.search(rf"move, {name} +([0-9.]+) ms", text).group(1))
            for name in ("start", "midgame")}


def browser(site, sims):
    server = Server(site)
    driver = chromium()
    try:
        driver.get(server.address)
        wait(driver, lambda: driver.execute_script("return window.tarnwickTimings"), 300)
        timings = driver.execute_script("return window.tarnwickTimings")
        driver.set_script_timeout(600)
        moves = driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            f"window.tarnwickBench({sims}, 9).then(done);")
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
    site = os.path.join(build, "site")
    here = native(tarnwick, sims)
    timings, there = browser(site, sims)
    print(f"{sims}-simulation move (median of 9 after three warm-up moves):")
    for name in ("start", "midgame"):
        print(f"  {name:8} browser {there[name]:7.1f} ms   native portable {here[name]:7.1f} ms"
              f"   ratio {there[name] / here[name]:.2f}")
    print(f"page load: module {timings['startMs']:.0f} ms, model {timings['modelMs']:.0f} ms,"
          f" first move (warm-up, midgame) {timings['firstMoveMs']:.1f} ms")
    print("sizes (bytes, raw / gzip -9):")
    for name, raw, packed in sizes(site):
        print(f"  {name:18} {raw:9} / {packed:9}")


if __name__ == "__main__":
    main()
