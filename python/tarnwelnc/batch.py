"""Cleans every audio file of a folder tree on a Dask distributed cluster.

    python3 -m tarnwelnc.batch --scheduler tcp://HOST:8786 SRC_DIR DST_DIR
    python3 -m tarnwelnc.batch --local 4 SRC_DIR DST_DIR

One task per file: SRC_DIR/a/b.wav becomes DST_DIR/a/b.wav, same format.
Workers open the files by the same absolute paths, so on several machines
both folders must be on a shared file system, and every worker needs this
package. Files whose output already exists are skipped; outputs appear
whole or not at all, so a run that was stopped can simply be run again (it
first removes the hidden temporary files a killed run left in DST_DIR; do
not run two batches into the same DST_DIR at once).
Failed files are named on standard error as they fail, and the rest go on;
a summary ends the run. Exit status 0 when no file failed, 1 otherwise,
2 for bad arguments.

Dask (Debian: python3-distributed) is needed only here.
"""
import argparse
import contextlib
import os
import sys
import time

from ._cli import add_parameters, parameters

AUDIO_SUFFIXES = (".wav", ".flac", ".ogg", ".oga", ".aif", ".aiff")


def find_audio(src):
    """Paths of the audio files under src relative to it, sorted; hidden
    files and folders are left out."""
    found = []
    for folder, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in files:
            if not name.startswith(".") and name.lower().endswith(AUDIO_SUFFIXES):
                found.append(os.path.relpath(os.path.join(folder, name), src))
    return sorted(found)


def remove_partial_files(dst):
    """Removes what killed runs left in the dst tree: the hidden temporary
    files denoise_file writes beside its outputs (their pattern only).
    Returns how many."""
    from ._files import PARTIAL_PATTERN

    removed = 0
    for folder, _, files in os.walk(dst):
        for name in files:
            if PARTIAL_PATTERN.match(name):
                with contextlib.suppress(FileNotFoundError):
                    os.remove(os.path.join(folder, name))
                    removed += 1
    return removed


def clean_one(src, dst, **params):
    """The task: (seconds of audio, None) or (0, the error's text); it never
    raises, so that one bad file cannot stop the others."""
    from . import denoise_file

    try:
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        return denoise_file(src, dst, **params).seconds, None
    except Exception as e:  # reported by name, the run goes on
        return 0.0, f"{type(e).__name__}: {e}"


def _inside(path, folder):
    return os.path.commonpath([path, folder]) == folder


def _parse(argv):
    parser = argparse.ArgumentParser(
        prog="python3 -m tarnwelnc.batch",
        description="Cleans every audio file (" + ", ".join(AUDIO_SUFFIXES) + ") under "
                    "SRC_DIR into the same tree under DST_DIR, one Dask task per file.")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="address of a running Dask scheduler, e.g. tcp://host:8786")
    where.add_argument("--local", type=int, metavar="N",
                       help="start a local cluster of N worker processes")
    parser.add_argument("src", metavar="SRC_DIR")
    parser.add_argument("dst", metavar="DST_DIR")
    add_parameters(parser)
    args = parser.parse_args(argv)
    if args.local is not None and args.local < 1:
        parser.error("--local needs at least one worker")
    args.src, args.dst = os.path.realpath(args.src), os.path.realpath(args.dst)
    if not os.path.isdir(args.src):
        parser.error(f"not a folder: {args.src}")
    # Outputs inside the input tree would be taken as input by the next run.
    if _inside(args.dst, args.src) or _inside(args.src, args.dst):
        parser.error("SRC_DIR and DST_DIR must not contain each other")
    from . import check_parameters

    try:
        check_parameters(args.mode, args.limit_db, args.adaptation, args.smoothing)
    except ValueError as e:
        parser.error(str(e))
    return args


def _connect(args, stack):
    from dask.distributed import Client, LocalCluster

    if args.scheduler:
        return stack.enter_context(Client(args.scheduler))
    cluster = stack.enter_context(LocalCluster(n_workers=args.local, threads_per_worker=1,
                                               processes=True, dashboard_address=None))
    return stack.enter_context(Client(cluster))


def main(argv=None):
    args = _parse(argv)
    try:
        import dask.distributed  # noqa: F401
    except ImportError:
        print("tarnwelnc.batch needs Dask distributed (Debian: python3-distributed)",
              file=sys.stderr)
        return 2

    # A run that was killed left its temporary files; two runs into the
    # same folder at once are not supported.
    removed = remove_partial_files(args.dst)
    if removed:
        print(f"tarnwelnc.batch: removed {removed} unfinished file(s) of an earlier run",
              file=sys.stderr)
    files = find_audio(args.src)
    todo = [rel for rel in files if not os.path.exists(os.path.join(args.dst, rel))]
    skipped = len(files) - len(todo)
    seconds, failed = 0.0, []
    with contextlib.ExitStack() as stack:
        from dask.distributed import as_completed

        try:
            client = _connect(args, stack)
        except (OSError, TimeoutError) as e:
            print(f"tarnwelnc.batch: no cluster: {e}", file=sys.stderr)
            return 2
        start = time.perf_counter()
        futures = client.map(clean_one, [os.path.join(args.src, r) for r in todo],
                             [os.path.join(args.dst, r) for r in todo],
                             pure=False, **parameters(args))
        names = {f.key: rel for f, rel in zip(futures, todo)}
        for future in as_completed(futures):
            rel = names[future.key]
            try:
                audio, error = future.result()
            except Exception as e:  # a worker lost while running the task
                audio, error = 0.0, f"{type(e).__name__}: {e}"
            future.release()
            if error:
                failed.append(rel)
                print(f"failed: {rel}: {error}", file=sys.stderr, flush=True)
            seconds += audio
        wall = time.perf_counter() - start

    cleaned = len(todo) - len(failed)
    print(f"files: {len(files)} ({cleaned} cleaned, {skipped} already done, "
          f"{len(failed)} failed)")
    print(f"audio cleaned: {seconds / 3600:.4f} hours")
    speed = f"{seconds / wall:.1f}x real time" if wall > 0 and seconds > 0 else "-"
    print(f"wall time: {wall:.2f} s, {speed}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
