"""Sphinx configuration of halvane's documentation site.

The pages come from three places: the README, split into one page per
section (the tour into one page per module; see readme_pages below, which
writes them into readme/ on every build); hand-written pages (index,
conventions, examples); and the API reference, which sphinx-autoapi
generates from the package's sources: the type stubs (.pyi) of the native
modules and the pure-Python modules, without building or importing them.
Every public module is picked up, a new one included. The example pages run
the examples (with the installed package) and show what they print and draw.

    pip install ".[docs]" && sphinx-build -W -b html docs build/docs
"""

import pathlib
import re

DOCS = pathlib.Path(__file__).resolve().parent
ROOT = DOCS.parent

project = "halvane"
author = "the halvane developers"
copyright = "2026, " + author
release = re.search(r'^version = "(.+)"', (ROOT / "pyproject.toml").read_text(), re.M)[1]

extensions = ["myst_nb", "autoapi.extension", "sphinx.ext.napoleon"]
html_theme = "furo"
html_title = f"halvane {release}"
exclude_patterns = ["_build", "jupyter_execute"]
myst_heading_anchors = 3

# The API reference: every public module and every public name in it.
autoapi_type = "python"
autoapi_dirs = [str(ROOT / "src")]
autoapi_file_patterns = ["*.pyi", "*.py"]  # a stub wins over its module
autoapi_options = ["members", "undoc-members", "show-module-summary", "imported-members"]
autoapi_root = "api"
autoapi_keep_files = False
autoapi_add_toctree_entry = False
autoapi_member_order = "groupwise"
napoleon_numpy_docstring = True
napoleon_google_docstring = False
napoleon_use_ivar = True  # "Attributes" as fields: autoapi documents the attributes themselves

# The examples: executed on every build, each cell within the timeout.
nb_execution_mode = "force"
nb_execution_timeout = 120
nb_execution_raise_on_error = True
nb_merge_streams = True


# README sections that another page shows in full.
ON_OTHER_PAGES = {"Where halvane differs from a literal reading"}  # conventions.md


def readme_pages():
    """One page per section of the README, the tour one per module, in order.

    Written under readme/ as NN-slug.md; the index's toctree globs them, so a
    section added to the README becomes a page without further ado.
    """
    out = DOCS / "readme"
    out.mkdir(exist_ok=True)
    for old in out.glob("*.md"):
        old.unlink()
    text = (ROOT / "README.md").read_text()
    sections = re.split(r"^(#{2,3} .+)$", text, flags=re.M)[1:]
    pages = []
    for heading, body in zip(sections[::2], sections[1::2]):
        level, title = heading.split(" ", 1)
        if level == "##" and title == "A short tour":
            title = "A short tour: the modules"
        if title not in ON_OTHER_PAGES:
            pages.append((title, body.strip()))
    for k, (title, body) in enumerate(pages):
        slug = re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-")[:40]
        (out / f"{k:02d}-{slug}.md").write_text(f"# {title}\n\n{body}\n")


readme_pages()
