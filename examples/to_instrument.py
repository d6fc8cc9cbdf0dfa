"""To an instrument: the quickstart's lines as 16-bit codes in files, with a manifest.

Runs the quickstart (its printout and picture put aside), checks that no line exceeds full
scale, also between the samples, and exports every line under a generic
16-bit profile into a folder: one .npy file of (I, Q) codes per line, padded
to the profile's length granularity, and manifest.json, which it prints.

    python examples/to_instrument.py [--folder waveforms]
"""

import argparse
import contextlib
import io
import json
import pathlib
import runpy
import sys
import tempfile
from collections.abc import Sequence

from halvane import export


def main(argv: Sequence[str] | None = None) -> dict:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--folder", default="waveforms", help="where to write (default %(default)s)")
    args = parser.parse_known_args(argv)[0]
    quickstart = pathlib.Path(__file__).resolve().parent / "quickstart.py"
    argv_before = sys.argv
    with tempfile.TemporaryDirectory() as scratch:  # for the quickstart's picture
        sys.argv = [str(quickstart), "--png", str(pathlib.Path(scratch) / "quickstart.png")]
        try:
            with contextlib.redirect_stdout(io.StringIO()):  # the quickstart's own printout
                q = runpy.run_path(str(quickstart), run_name="quickstart")
        finally:
            sys.argv = argv_before
    lines, record = q["pdc"], q["record"]

    too_strong = export.clip_report(lines, record, true_peak=True)
    for found in too_strong.values():
        print(found)
    if not too_strong:
        print(f"{len(lines)} lines within full scale, also between the samples")

    manifest = export.export_lines(lines, record, export.GENERIC_16, args.folder)
    print(json.dumps(manifest, indent=1))
    return manifest


if __name__ == "__main__":
    main()
