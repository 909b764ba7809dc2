"""The package's codes against the C headers, parsed here: every name the
headers define has the same value in calmgr.constants, and the package's
version is the header's."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from typing import Dict

import pytest

import calmgr
from calmgr import constants

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
HEADERS = [os.path.join(ROOT, "include", name) for name in ("calmgr.h", "calmgr_io.h")]
# Macros that are not codes: the include guards and the export markers.
NOT_CODES = {"CALMGR_H", "CALMGR_IO_H", "CALMGR_API", "CALMGR_IO_API"}


def c_integer(text: str, known: Dict[str, int]) -> int:
    """A C integer constant expression of the forms the headers use."""
    text = re.sub(r"/\*.*?\*/", "", text).strip().strip("()")
    if text in known:
        return known[text]
    return int(re.sub(r"[uUlL]+$", "", text), 0)


def header_codes(path: str) -> Dict[str, int]:
    """Every enumerator and object-like #define of a header, with its value."""
    with open(path, encoding="utf-8") as f:
        source = f.read()
    source = re.sub(r"/\*.*?\*/", " ", source, flags=re.S)
    codes: Dict[str, int] = {}
    for name, value in re.findall(r"^\s*#define\s+([A-Z_][A-Z0-9_]*)[ \t]+(\S[^\n]*)$", source,
                                  flags=re.M):
        if name not in NOT_CODES:
            codes[name] = c_integer(value, codes)
    for body in re.findall(r"\benum\s*\{(.*?)\}", source, flags=re.S):
        nxt = 0
        for item in filter(None, (part.strip() for part in body.split(","))):
            name, _, value = (s.strip() for s in item.partition("="))
            nxt = c_integer(value, codes) if value else nxt
            codes[name] = nxt
            nxt += 1
    return codes


@pytest.mark.parametrize("header", HEADERS, ids=os.path.basename)
def test_every_header_code_is_in_the_package_with_its_value(header: str) -> None:
    codes = header_codes(header)
    assert "CAL_OK" in codes or "CALIO_ERR_FILE" in codes  # the parser read the header
    missing = sorted(set(codes) - set(vars(constants)))
    assert not missing, f"calmgr.constants lacks {missing}"
    wrong = {name: (getattr(constants, name), value) for name, value in codes.items()
             if getattr(constants, name) != value}
    assert not wrong, f"package value != header value: {wrong}"


def test_the_package_defines_no_code_the_headers_lack() -> None:
    known = {}
    for header in HEADERS:
        known.update(header_codes(header))
    prefixes = ("ICAL_", "SCAL_", "CAL_", "CALIO_", "CALMGR_", "PROP_", "FIT_ERR")
    extra = sorted(name for name in vars(constants)
                   if name.startswith(prefixes) and name not in known)
    assert not extra, f"calmgr.constants defines codes no header has: {extra}"


def test_the_version_is_the_headers_and_the_library_agrees() -> None:
    codes = header_codes(HEADERS[0])
    version = "{CALMGR_VERSION_MAJOR}.{CALMGR_VERSION_MINOR}.{CALMGR_VERSION_PATCH}".format(
        **codes)
    assert calmgr.__version__ == version
    assert calmgr.library_version() == version
    r = subprocess.run([sys.executable, "-m", "calmgr", "--version"], capture_output=True,
                       text=True, timeout=60, cwd=os.path.dirname(os.path.dirname(
                           os.path.abspath(calmgr.__file__))))
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines() == [
        f"calmgr {version} (package)",
        f"libcalmgr {version} ({calmgr.library_path()})",
    ]


def test_fit_names_are_the_headers_fit_codes_in_lower_case() -> None:
    codes = header_codes(HEADERS[0])
    fits = {name[len("ICAL_FIT_"):].lower(): value for name, value in codes.items()
            if name.startswith("ICAL_FIT_")}
    assert calmgr.FIT_TYPES == fits
    assert {d.name: d.value for d in calmgr.Diag} == {
        name[len("ICAL_DIAG_"):]: value for name, value in codes.items()
        if name.startswith("ICAL_DIAG_")}
    assert {t.name: t.value for t in calmgr.CalType} == {
        name[len("ICAL_TYPE_"):]: value for name, value in codes.items()
        if name.startswith("ICAL_TYPE_")}
