#!/usr/bin/env python3
"""Cost of making a freshly written installation durable: one syncfs of the
file system against an fsync of every file and folder the extraction wrote.

Writes a bundle-like tree (3,000 files of 0.2-40 KB in 30 folders and ten
5 MB files) into the work folder, then times each way in alternating order.
Usage: sync-cost.py [work folder (default /tmp)] [rounds (default 4)]
"""
import os
import random
import shutil
import subprocess
import sys
import time


def make(root, n=3000):
    rng = random.Random(1)
    for i in range(n):
        folder = os.path.join(root, f"d{i // 100}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"f{i}"), "wb") as f:
            f.write(os.urandom(rng.randint(200, 40000)))
    for j in range(10):
        with open(os.path.join(root, f"big{j}"), "wb") as f:
            f.write(os.urandom(5_000_000))


def fsync_each(root):
    for folder, _, files in os.walk(root):
        for name in files:
            fd = os.open(os.path.join(folder, name), os.O_RDONLY)
            os.fsync(fd)
            os.close(fd)
        fd = os.open(folder, os.O_RDONLY)
        os.fsync(fd)
        os.close(fd)


def syncfs(root):
    subprocess.run(["sync", "-f", root], check=True)


def main():
    work = sys.argv[1] if len(sys.argv) > 1 else "/tmp"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 4
    ways = {"syncfs": syncfs, "fsync each": fsync_each}
    results = {name: [] for name in ways}
    for r in range(rounds):
        order = list(ways) if r % 2 == 0 else list(reversed(ways))
        for name in order:
            root = os.path.join(work, f"sync-cost-{os.getpid()}-{r}")
            subprocess.run(["sync"], check=True)
            make(root)
            wall, cpu = time.monotonic(), time.process_time()
            ways[name](root)
            results[name].append((time.monotonic() - wall, time.process_time() - cpu))
            shutil.rmtree(root)
    for name, runs in results.items():
        walls = sorted(w for w, _ in runs)
        cpus = sorted(c for _, c in runs)
        print(f"{name:11s} median wall {walls[len(walls) // 2]:.3f} s, cpu {cpus[len(cpus) // 2]:.3f} s")


if __name__ == "__main__":
    main()
