"""python3 -m tarnwelnc IN OUT [--mode M] [--limit-db DB] [--adaptation A] [--smoothing S]

Cleans one audio file into another of the same format. Exit status 0 when
OUT was written, 1 with one line on standard error when not."""
import argparse
import sys

from . import denoise_file
from ._cli import add_parameters, parameters


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m tarnwelnc",
        description="Removes stationary background noise from an audio file "
                    "(WAV, FLAC, Ogg; 16/24-bit or float; up to 8 channels).")
    parser.add_argument("input", metavar="IN")
    parser.add_argument("output", metavar="OUT")
    add_parameters(parser)
    args = parser.parse_args(argv)
    try:
        denoise_file(args.input, args.output, **parameters(args))
    except (OSError, ValueError, TypeError, RuntimeError, ImportError) as e:
        # soundfile's errors are RuntimeErrors that name the file; those
        # about the output already say "cannot write OUT: why".
        text = e.strerror if isinstance(e, OSError) and e.strerror and not e.filename else e
        print(f"tarnwelnc: {text}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
