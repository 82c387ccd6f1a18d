"""Command-line options shared by `python3 -m tarnwelnc` and the batch command."""


def add_parameters(parser):
    parser.add_argument("--mode", type=int, default=2, choices=range(4),
                        help="suppression mode, as test_wav's kindMode (default 2)")
    parser.add_argument("--limit-db", type=float, default=-20.0, metavar="DB",
                        help="suppression limit in dB, <= 0 (default -20)")
    parser.add_argument("--adaptation", type=float, default=0.95, metavar="A",
                        help="noise adaptation rate in [0.8, 1) (default 0.95)")
    parser.add_argument("--smoothing", type=float, default=0.98, metavar="S",
                        help="musical-noise reduction in [0.8, 1) (default 0.98)")


def parameters(args):
    """The keyword arguments of denoise_file() from parsed options."""
    return dict(mode=args.mode, limit_db=args.limit_db, adaptation=args.adaptation,
                smoothing=args.smoothing)
