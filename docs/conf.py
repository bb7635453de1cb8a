"""Sphinx configuration: the site is built against the installed package (scripts/docs.sh)."""

from __future__ import annotations

import importlib.metadata
from pathlib import Path

HERE = Path(__file__).parent

project = "quarno_synth"
author = "quarno_synth developers"
copyright = "2026, quarno_synth developers"
# one source for the version: pyproject.toml, through the installed package's metadata
release = importlib.metadata.version("quarno_synth")
version = release

extensions = [
    "myst_parser",
    "numpydoc",
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "_generated/*.py"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
autodoc_member_order = "bysource"
autodoc_typehints = "none"  # the signatures show them; numpydoc sections describe them

html_theme = "pydata_sphinx_theme"
html_title = f"quarno_synth {release}"
html_theme_options = {"navigation_with_keys": False, "show_toc_level": 2}

# Every example runs with the working directory in a scratch folder of the build.
doctest_global_setup = """
import os, tempfile
os.chdir(tempfile.mkdtemp(prefix="quarno-docs-"))
import quarno_synth as qs
"""

# Pages of the model extensions land in docs/ as Markdown files as each one is built; the
# guide lists whichever are there (in this order first, then any other page not listed
# elsewhere), so the site builds with or without them.
KNOWN_PAGES = ["extensions", "ticks", "universe", "facts", "fit", "reliability"]
LISTED_ELSEWHERE = {
    "index",
    "getting-started",
    "data-model",
    "recipes",
    "charts",
    "performance",
    "protocol",
    "determinism",
    "development",
    "architecture",
    "api",
}


def _model_pages() -> list[str]:
    present = {p.stem for p in HERE.glob("*.md")} - LISTED_ELSEWHERE
    return [p for p in KNOWN_PAGES if p in present] + sorted(present - set(KNOWN_PAGES))


def _fill_model_pages(app: object, docname: str, source: list[str]) -> None:
    if docname == "guide/index":
        pages = "\n".join(f"/{page}" for page in _model_pages())
        source[0] = source[0].replace("%MODEL_PAGES%", pages)


def _draw_gallery(app: object) -> None:
    """One chart per built-in example, for the gallery page."""
    out = HERE / "_generated"
    out.mkdir(exist_ok=True)
    import matplotlib

    matplotlib.use("Agg")
    import quarno_synth as qs

    for example in qs.EXAMPLES:
        target = out / f"{example.name}.png"
        if not target.exists():
            qs.plot_run(qs.example_text(example.name), target, title=example.name)


def setup(app: object) -> None:
    app.connect("source-read", _fill_model_pages)  # type: ignore[attr-defined]
    app.connect("builder-inited", _draw_gallery)  # type: ignore[attr-defined]
