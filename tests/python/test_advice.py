"""The advice the quality benchmark gives holds: a shaded page through the document preset
reads well, where the page as it is does not."""
import os
import sys
import tempfile

import pytest

import kelvane

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import test_pictures as pictures  # noqa: E402


@pytest.mark.parametrize("shade", pictures.PAGE_SHADINGS)
def test_a_shaded_page_through_the_document_preset_reads_well(shade):
    page, truth = pictures.page(shade, 1.0, seed=11)
    with tempfile.TemporaryDirectory() as folder:
        untreated = pictures.character_error_rate(pictures.read_text(page, folder), truth)
        leveled = kelvane.level(page, **kelvane.PRESETS["document"])
        rate = pictures.character_error_rate(pictures.read_text(leveled, folder), truth)
    assert rate < 0.05, (shade, rate)
    assert untreated > 0.1, "the shading is no test unless the page as it is reads badly"
