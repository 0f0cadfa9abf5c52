"""Every ```python block of the guide's Python section runs, in order, in one namespace (later
blocks use the names of earlier ones), as a reader would paste them."""

import re
from pathlib import Path

from conftest import environment_path

BLOCK = re.compile(r"^```python\n(.*?)^```$", re.MULTILINE | re.DOTALL)


def python_section(text):
    start = text.index("\n## Python\n")
    end = text.find("\n## ", start + 1)
    return text[start : end if end != -1 else len(text)]


def test_the_python_blocks_of_the_guide_run(capsys):
    section = python_section(Path(environment_path("ZEL_GUIDE")).read_text(encoding="utf-8"))
    blocks = BLOCK.findall(section)
    assert len(blocks) >= 5, "the guide's Python section has fewer blocks than expected"
    namespace = {"__name__": "guide"}
    for number, block in enumerate(blocks, 1):
        try:
            exec(compile(block, f"guide.md python block {number}", "exec"), namespace)
        except Exception as error:
            raise AssertionError(f"python block {number} of the guide failed:\n{block}") from error
    printed = capsys.readouterr().out
    assert "index out of bounds: the len is 4 but the index is 4" in printed
