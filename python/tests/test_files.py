"""denoise_file() and `python3 -m tarnwelnc` on real files."""
import os
import stat
import subprocess
import sys
import threading

import numpy as np
import pytest

import tarnwelnc
from conftest import noisy

sf = pytest.importorskip("soundfile")


@pytest.mark.parametrize("name, subtype, channels", [
    ("a.wav", "PCM_16", 1),
    ("b.wav", "PCM_16", 2),
    ("c.flac", "PCM_16", 2),
])
def test_16_bit_files_are_cleaned_as_int16(tmp_path, name, subtype, channels):
    x = noisy(16000, 1.5, channels)
    sf.write(tmp_path / name, x.T, 16000, subtype=subtype)
    result = tarnwelnc.denoise_file(tmp_path / name, tmp_path / f"out-{name}", mode=3)
    assert result == (x.shape[1], 16000, channels)
    y, rate = sf.read(tmp_path / f"out-{name}", dtype="int16", always_2d=True)
    assert rate == 16000 and sf.info(tmp_path / f"out-{name}").subtype == subtype
    np.testing.assert_array_equal(y.T, tarnwelnc.denoise(x, 16000, mode=3))


@pytest.mark.parametrize("name, subtype", [
    ("d.wav", "PCM_24"),
    ("e.flac", "PCM_24"),
    ("f.wav", "FLOAT"),
    ("g.ogg", "VORBIS"),
])
def test_wider_files_are_cleaned_in_float_at_16_bit_precision(tmp_path, name, subtype):
    x = (noisy(48000, 1.2, 2) * 1.37).astype(np.float32) / 32768
    sf.write(tmp_path / name, x.T, 48000, subtype=subtype)
    tarnwelnc.denoise_file(tmp_path / name, tmp_path / f"out-{name}")
    assert sf.info(tmp_path / f"out-{name}").subtype == subtype
    read, _ = sf.read(tmp_path / name, dtype="float32", always_2d=True)
    y, _ = sf.read(tmp_path / f"out-{name}", dtype="float32", always_2d=True)
    expected = tarnwelnc.denoise(np.ascontiguousarray(read.T), 48000)
    if subtype == "VORBIS":  # lossy: the encoder changes the samples
        assert y.shape == read.shape
        assert np.sqrt(np.mean((y.T - expected) ** 2)) < 0.1 * np.sqrt(np.mean(read ** 2))
    else:
        np.testing.assert_array_equal(y.T, expected)
        np.testing.assert_array_equal(y * 32768, np.round(y * 32768))


def test_command_line(tmp_path):
    x = noisy(8000, 1.0, 1)
    src, dst = tmp_path / "in.wav", tmp_path / "out.wav"
    sf.write(src, x.T, 8000, subtype="PCM_16")
    command = [sys.executable, "-m", "tarnwelnc"]
    done = subprocess.run(command + [str(src), str(dst), "--mode", "1", "--limit-db", "-30"],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    tarnwelnc.denoise_file(src, tmp_path / "ref.wav", mode=1, limit_db=-30)
    assert dst.read_bytes() == (tmp_path / "ref.wav").read_bytes()

    (tmp_path / "broken.wav").write_bytes(b"RIFF0000WAVEjunk" * 10)
    for args, words in [
        ([str(tmp_path / "broken.wav"), str(tmp_path / "x.wav")], "broken.wav"),
        ([str(tmp_path / "missing.wav"), str(tmp_path / "x.wav")], "missing.wav"),
        ([str(src), str(tmp_path / "no-such-folder" / "x.wav")],
         "tarnwelnc: cannot write " + str(tmp_path / "no-such-folder" / "x.wav") +
         ": No such file or directory"),
        ([str(src), str(src)], "names the input"),
        ([str(src), str(tmp_path / "x.wav"), "--adaptation", "1"], "adaptation"),
    ]:
        done = subprocess.run(command + args, capture_output=True, text=True)
        assert done.returncode == 1 and words in done.stderr, (args, done.stderr)
    # Nothing half-written is left behind, and the input is untouched.
    assert sorted(os.listdir(tmp_path)) == ["broken.wav", "in.wav", "out.wav", "ref.wav"]
    np.testing.assert_array_equal(sf.read(src, dtype="int16")[0], x[0])


def test_files_of_unsupported_shape_are_refused(tmp_path):
    sf.write(tmp_path / "wide.wav", np.zeros((100, 9), np.int16), 16000)
    sf.write(tmp_path / "slow.wav", np.zeros(100, np.int16), 4000)
    with pytest.raises(ValueError, match="channels"):
        tarnwelnc.denoise_file(tmp_path / "wide.wav", tmp_path / "o1.wav")
    with pytest.raises(ValueError, match="rate"):
        tarnwelnc.denoise_file(tmp_path / "slow.wav", tmp_path / "o2.wav")
    assert sorted(os.listdir(tmp_path)) == ["slow.wav", "wide.wav"]


def test_special_output_paths(tmp_path):
    x = noisy(8000, 1.0, 1)
    src = tmp_path / "in.wav"
    sf.write(src, x.T, 8000, subtype="PCM_16")
    tarnwelnc.denoise_file(src, tmp_path / "ref.wav")
    ref = (tmp_path / "ref.wav").read_bytes()

    # Links to a file and to a name not made yet: the target gets the file
    # (keeping its permissions), the link stays.
    real = tmp_path / "real"
    real.mkdir()
    (real / "old.wav").write_bytes(b"old")
    os.chmod(real / "old.wav", 0o640)
    (tmp_path / "link.wav").symlink_to("real/old.wav")
    (tmp_path / "dangling.wav").symlink_to(real / "new.wav")
    for name in ["link.wav", "dangling.wav"]:
        tarnwelnc.denoise_file(src, tmp_path / name)
        assert (tmp_path / name).is_symlink()
    assert (real / "old.wav").read_bytes() == ref == (real / "new.wav").read_bytes()
    assert stat.S_IMODE(os.stat(real / "old.wav").st_mode) == 0o640
    assert sorted(os.listdir(real)) == ["new.wav", "old.wav"]

    # A FIFO is written directly: the reader at its other end gets the file.
    fifo = tmp_path / "out.fifo"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    tarnwelnc.denoise_file(src, fifo)
    reader.join(30)
    assert got == [ref] and stat.S_ISFIFO(os.stat(fifo).st_mode)

    # A device stays one, and a failed write says so by the name given.
    with pytest.raises(OSError, match="/dev/full: No space left"):
        tarnwelnc.denoise_file(src, "/dev/full")
    assert stat.S_ISCHR(os.stat("/dev/full").st_mode)

    # Reasons, by the output name the caller gave.
    with pytest.raises(OSError, match="no-such/x.wav: No such file or directory"):
        tarnwelnc.denoise_file(src, tmp_path / "no-such" / "x.wav")
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o500)
        with pytest.raises(OSError, match="locked/x.wav: Permission denied"):
            tarnwelnc.denoise_file(src, locked / "x.wav")
    assert not [n for n in os.listdir(tmp_path) if n.endswith(".part")]
