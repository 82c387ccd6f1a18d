"""The batch command on a local Dask cluster, against denoise_file in-process."""
import os
import subprocess
import sys

import pytest

import tarnwelnc
from conftest import noisy

sf = pytest.importorskip("soundfile")
BATCH = [sys.executable, "-m", "tarnwelnc.batch"]

# Folder, suffix, rate, channels, sample type: 19 good files cycle through
# these; the 20th is broken.
KINDS = [("studio", "wav", 16000, 1, "PCM_16"), ("studio", "wav", 44100, 2, "PCM_16"),
         ("field/day 1", "flac", 48000, 1, "PCM_24"), ("field/day 1", "wav", 8000, 2, "PCM_24"),
         ("", "flac", 22050, 1, "PCM_16")]
FILES = [(os.path.join(folder, f"take{i}.{ext}"), rate, channels, subtype)
         for i, (folder, ext, rate, channels, subtype) in
         ((i, KINDS[i % len(KINDS)]) for i in range(19))]


def make_tree(src):
    for i, (rel, rate, channels, subtype) in enumerate(FILES):
        os.makedirs(os.path.dirname(src / rel), exist_ok=True)
        sf.write(src / rel, noisy(rate, 0.4 + 0.05 * i, channels, seed=i).T, rate,
                 subtype=subtype)
    (src / "studio" / "broken.wav").write_bytes(b"RIFF\x24\x00\x00\x00WAVEfmt " + bytes(40))
    (src / "notes.txt").write_text("not audio")


def test_batch_on_a_local_cluster_matches_denoise_file(tmp_path):
    pytest.importorskip("distributed")
    src, dst, ref = tmp_path / "src", tmp_path / "dst", tmp_path / "ref"
    make_tree(src)
    args = ["--local", "2", str(src), str(dst), "--mode", "3", "--limit-db", "-25"]
    done = subprocess.run(BATCH + args, capture_output=True, text=True, timeout=300)
    assert done.returncode == 1, done.stderr
    assert "failed: studio/broken.wav" in done.stderr
    assert "files: 20 (19 cleaned, 0 already done, 1 failed)" in done.stdout
    assert "x real time" in done.stdout

    for rel, *_ in FILES:
        os.makedirs(os.path.dirname(ref / rel), exist_ok=True)
        tarnwelnc.denoise_file(src / rel, ref / rel, mode=3, limit_db=-25)
        assert (dst / rel).read_bytes() == (ref / rel).read_bytes(), rel
    outputs = sorted(os.path.relpath(os.path.join(d, f), dst)
                     for d, _, names in os.walk(dst) for f in names)
    assert outputs == sorted(rel for rel, *_ in FILES)  # no partial files

    # A second run does only what is left: the broken file. It first removes
    # the temporary files a killed run would have left, and nothing else.
    stale = dst / "studio" / f".broken.wav.{'0123abcd' * 4}.part"
    stale.write_bytes(b"RIFF")
    others = [dst / "studio" / ".notes.part", dst / "studio" / "take.part"]
    for other in others:
        other.write_bytes(b"mine")
    done = subprocess.run(BATCH + args, capture_output=True, text=True, timeout=300)
    assert done.returncode == 1
    assert "files: 20 (0 cleaned, 19 already done, 1 failed)" in done.stdout
    assert "removed 1 unfinished file" in done.stderr
    assert not stale.exists() and all(other.exists() for other in others)


def test_batch_refuses_an_output_inside_the_input(tmp_path):
    (tmp_path / "src").mkdir()
    done = subprocess.run(BATCH + ["--local", "1", str(tmp_path / "src"),
                                   str(tmp_path / "src" / "clean")],
                          capture_output=True, text=True)
    assert done.returncode == 2 and "contain each other" in done.stderr


def test_package_works_without_dask(tmp_path):
    # Dask made unimportable: the package works, the batch command says why not.
    code = ("import sys; sys.modules['dask'] = sys.modules['distributed'] = None\n"
            "import numpy, tarnwelnc, tarnwelnc.batch\n"
            "tarnwelnc.denoise(numpy.zeros(500, numpy.int16), 8000)\n"
            "sys.exit(tarnwelnc.batch.main(['--local', '1', sys.argv[1], sys.argv[2]]))\n")
    (tmp_path / "src").mkdir()
    done = subprocess.run([sys.executable, "-c", code, str(tmp_path / "src"),
                           str(tmp_path / "dst")], capture_output=True, text=True)
    assert done.returncode == 2 and "python3-distributed" in done.stderr
