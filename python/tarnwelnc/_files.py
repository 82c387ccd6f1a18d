"""Audio files through the suppressor, read and written with soundfile."""
import os
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


def denoise_file(src, dst, mode=2, limit_db=-20.0, adaptation=0.95, smoothing=0.98):
    """Cleans the audio file src (WAV, FLAC, Ogg, ... as libsndfile reads
    them) into dst, in the same format, sample type, rate and channels.
    Parameters as for denoise(). Returns a FileResult.

    dst is written under a temporary name and renamed at the end, so it
    never holds a partial result; it is replaced if it exists, and may not
    be src itself. Samples of more than 16 bits are cleaned at 16-bit
    precision.
    """
    from . import _clean_frames, check_parameters

    sf = _soundfile()
    params = check_parameters(mode, limit_db, adaptation, smoothing)
    src, dst = os.fspath(src), os.fspath(dst)
    if os.path.exists(dst) and os.path.samefile(src, dst):
        raise ValueError(f"the output names the input file: {dst}")
    folder, name = os.path.split(os.path.abspath(dst))
    partial = os.path.join(folder, f".{name}.{uuid.uuid4().hex}.part")
    frames = 0
    with sf.SoundFile(src) as f:
        dtype = "int16" if f.subtype in _AS_INT16 else "float32"
        try:
            with sf.SoundFile(partial, "w", f.samplerate, f.channels, subtype=f.subtype,
                              format=f.format) as out:
                # On two threads, a few seconds at a time, in (frames,
                # channels) arrays as soundfile has them.
                frames = _clean_frames(lambda count: f.read(count, dtype=dtype, always_2d=True),
                                       out.write, f.samplerate, f.channels, dtype, params)
            os.replace(partial, dst)
        except BaseException:
            if os.path.exists(partial):
                os.remove(partial)
            raise
        return FileResult(frames, f.samplerate, f.channels)
