"""A plain progress bar on stderr (one line per 5 % when stderr is not a terminal)."""
import multiprocessing
import sys
import time


class Progress:
    def __init__(self, total, label, stream=None, quiet=False):
        self.total, self.label = max(0, total), label
        self.stream = stream or sys.stderr
        self.quiet = quiet
        self.done = 0
        self.start = time.monotonic()
        self.tty = hasattr(self.stream, "isatty") and self.stream.isatty()
        self.last_step = -1

    def update(self, n=1):
        self.done += n
        if self.quiet:
            return
        frac = self.done / self.total if self.total else 1.0
        elapsed = time.monotonic() - self.start
        eta = elapsed / frac - elapsed if frac > 0 else 0.0
        bar = "#" * int(frac * 30)
        line = (f"{self.label} [{bar:<30}] {self.done}/{self.total} "
                f"{elapsed:6.0f}s elapsed, {eta:6.0f}s left")
        if self.tty:
            self.stream.write("\r" + line)
            if self.done >= self.total:
                self.stream.write("\n")
        else:
            step = int(frac * 20)
            if step != self.last_step or self.done >= self.total:
                self.last_step = step
                self.stream.write(line + "\n")
        self.stream.flush()


def run_jobs(func, jobs, workers, label, quiet=False):
    """func over jobs, in order, on `workers` processes, with a progress bar."""
    bar = Progress(len(jobs), label, quiet=quiet)
    rows = []
    if workers > 1:
        with multiprocessing.Pool(workers) as pool:
            for row in pool.imap(func, jobs, chunksize=1):
                rows.append(row)
                bar.update()
    else:
        for job in jobs:
            rows.append(func(job))
            bar.update()
    return rows
