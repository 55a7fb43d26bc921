import ctypes
import glob
import os
import re

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MODELS = os.path.abspath(os.environ.get("RAVEL_TEST_MODELS",
                                        os.path.join(REPO, "tests", "data", "trained")))


@pytest.fixture(scope="session")
def models():
    return MODELS


@pytest.fixture(scope="session")
def heldout():
    return sorted(glob.glob(os.path.join(MODELS, "heldout", "*.wav")))


@pytest.fixture(scope="session")
def engine():
    import ravel
    with ravel.Engine(MODELS) as e:
        yield e


@pytest.fixture(scope="session")
def pellam(engine):
    """libPellam bound by export name through ctypes: the C API itself, in the
    process whose engine the package opened."""
    import ravel
    lib = ctypes.CDLL(os.path.join(os.path.dirname(ravel._ravel.__file__), "..", "..", "lib",
                                   "libPellam.so"))
    with open(os.path.join(REPO, "pellam", "pellam.h")) as f:
        names = {int(o): n for o, n in
                 re.findall(r"X\((\d+),\s*\w+,\s*\\?\s*(Entry_[0-9a-f]+)\)", f.read())}
    return lib, {o: getattr(lib, n) for o, n in names.items()}
