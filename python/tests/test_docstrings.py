"""Everything the package exports says what it does: every class, function, method and
property has a docstring beyond the signature pybind11 writes."""

import inspect

import pytest

import zel

# Written by pybind11 for every enum, not by the module.
ENUM_MEMBERS = {"__init__", "name", "value"}


def has_text(obj):
    lines = [line.strip() for line in (inspect.getdoc(obj) or "").splitlines() if line.strip()]
    name = getattr(obj, "__name__", None) or getattr(getattr(obj, "fget", None), "__name__", "")
    signature = (f"{name}(", "Overloaded function.")
    return any(not line.startswith(signature) and not line[:2].rstrip(".").isdigit()
               for line in lines)


def exported():
    for name in zel.__all__:
        obj = getattr(zel, name)
        if isinstance(obj, (int, float, tuple)) or obj is zel.STDOUT:
            continue
        yield name, obj
        if not inspect.isclass(obj):
            continue
        is_enum = hasattr(obj, "__members__")
        for attribute, value in vars(obj).items():
            if attribute.startswith("_") and attribute not in ("__init__", "__call__"):
                continue
            if is_enum and (attribute in ENUM_MEMBERS or attribute in obj.__members__):
                continue
            if isinstance(getattr(obj, attribute), (int, float)):
                continue  # a constant; its property carries the text
            yield f"{name}.{attribute}", value


@pytest.mark.parametrize("name, obj", list(exported()), ids=lambda v: v if isinstance(v, str) else "")
def test_documented(name, obj):
    assert has_text(obj), f"{name} has no docstring"


def test_the_package_docstring_names_the_conventions():
    assert "qubit 0 is the least significant" in zel.__doc__
