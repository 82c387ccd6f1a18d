"""Audio files through the suppressor, read and written with soundfile."""
import os
import re
import shutil
import stat
import tempfile
import uuid
from typing import NamedTuple

# Files of 16 bits or fewer are cleaned as int16, exactly as test_wav does;
# all others (24 and 32 bits, float, lossy) as float32, quantised to 16 bits
# on the way in.
_AS_INT16 = {"PCM_16", "PCM_S8", "PCM_U8", "ALAW", "ULAW"}


class FileResult(NamedTuple):
    frames: int
    rate: int
    channels: int

    @property
    def seconds(self):
        return self.frames / self.rate


def _soundfile():
    try:
        import soundfile
    except ImportError:
        raise ImportError("reading and writing files needs the soundfile package "
                          "(Debian: python3-soundfile)") from None
    return soundfile


# The temporary file beside an output: hidden, named after it, with a
# random part; the batch removes what a killed run left of these.
PARTIAL_PATTERN = re.compile(r"^\..+\.[0-9a-f]{32}\.part$")


def _partial_name(target):
    folder, name = os.path.split(target)
    return os.path.join(folder, f".{name}.{uuid.uuid4().hex}.part")


def _written_in_place(dst):
    """Whether dst is something other than a regular file or a new name
    (a FIFO, a device, also through a link): written directly, as it is."""
    try:
        return not stat.S_ISREG(os.stat(dst).st_mode)
    except FileNotFoundError:
        return False


def _cannot_write(dst, error):
    """error, retold about the output path the caller gave."""
    reason = (error.strerror if isinstance(error, OSError) and error.strerror
              else getattr(error, "error_string", None) or str(error))
    if isinstance(error, OSError):
        return OSError(error.errno, f"cannot write {dst}: {reason}")
    return RuntimeError(f"cannot write {dst}: {reason}")


def denoise_file(src, dst, mode=2, limit_db=-20.0, adaptation=0.95, smoothing=0.98):
    """Cleans the audio file src (WAV, FLAC, Ogg, ... as libsndfile reads
    them) into dst, in the same format, sample type, rate and channels.
    Parameters as for denoise(). Returns a FileResult.

    A regular file or a new name is written under a hidden temporary name
    in its folder and renamed at the end, so it never holds a partial
    result and an existing file stays as it was until then (it keeps its
    permissions); a symbolic link is followed, so its target gets the file
    and the link stays. A FIFO or a device is written directly, once the
    whole file is made. Errors name dst and say why. dst may not
    be src itself. Samples of more than 16 bits are cleaned at 16-bit
    precision.
    """
    from . import _check_format, _clean_frames, check_parameters

    sf = _soundfile()
    params = check_parameters(mode, limit_db, adaptation, smoothing)
    src, dst = os.fspath(src), os.fspath(dst)
    if os.path.exists(dst) and os.path.samefile(src, dst):
        raise ValueError(f"the output names the input file: {dst}")
    frames = 0
    with sf.SoundFile(src) as f:
        _check_format(f.samplerate, f.channels)  # before any output is made
        dtype = "int16" if f.subtype in _AS_INT16 else "float32"

        def write(path):
            nonlocal frames
            with sf.SoundFile(path, "w", f.samplerate, f.channels, subtype=f.subtype,
                              format=f.format) as out:
                # On two threads, a few seconds at a time, in (frames,
                # channels) arrays as soundfile has them.
                frames = _clean_frames(lambda count: f.read(count, dtype=dtype, always_2d=True),
                                       out.write, f.samplerate, f.channels, dtype, params)

        if _written_in_place(dst):
            # libsndfile writes a header's sizes last, which a pipe cannot
            # take back: the whole file is made first, in an unnamed
            # temporary file, then copied.
            with tempfile.TemporaryFile() as whole:
                write(whole)
                whole.seek(0)
                try:
                    with open(dst, "wb") as out:
                        shutil.copyfileobj(whole, out, 1 << 20)
                except OSError as e:
                    raise _cannot_write(dst, e) from None
            return FileResult(frames, f.samplerate, f.channels)

        target = os.path.realpath(dst)
        partial = _partial_name(target)
        try:
            # Made here first, so that a folder that is missing or not
            # writable is reported as such, by the name the caller gave.
            os.close(os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
        except OSError as e:
            raise _cannot_write(dst, e) from None
        try:
            try:
                os.chmod(partial, stat.S_IMODE(os.stat(target).st_mode))
            except FileNotFoundError:
                pass
            try:
                write(partial)
                os.replace(partial, target)
            except (OSError, RuntimeError) as e:
                raise _cannot_write(dst, e) from None
        except BaseException:
            if os.path.exists(partial):
                os.remove(partial)
            raise
        return FileResult(frames, f.samplerate, f.channels)
