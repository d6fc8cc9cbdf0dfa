"""Run an example as a user would; show what it prints and the figure it saves.

The example pages call show() from their one code cell, so that the site
shows exactly what the script does.
"""

import pathlib
import subprocess
import sys
import tempfile

from IPython.display import Image, display

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def show(name, *args, figure=True):
    """Run examples/<name> with `args`; print its output, display its figure."""
    png = pathlib.Path(tempfile.mkdtemp()) / "figure.png"
    argv = [sys.executable, str(EXAMPLES / name), *args] + (["--png", str(png)] if figure else [])
    run = subprocess.run(argv, capture_output=True, text=True)
    if run.returncode:
        raise RuntimeError(f"{name} failed with exit status {run.returncode}:\n{run.stderr}")
    print(run.stdout)
    if figure:
        display(Image(filename=str(png)))
