"""Fixtures shared by the test modules."""

import signal
from collections.abc import Mapping

import pytest

from halvane import wavespec_handling as wh


def _supported(isa):
    try:
        wh._use_isa(wh._use_isa(isa))
        return True
    except ValueError:
        return False


@pytest.fixture(params=[isa for isa in ("scalar", "avx2", "avx512") if _supported(isa)])
def each_isa(request):
    """Run the test on each vectorised path this CPU has."""
    previous = wh._use_isa(request.param)
    yield request.param
    wh._use_isa(previous)


class _ReadOnlyMapping(Mapping):
    """A mapping that is not a dict: read through the mapping protocol only."""

    def __init__(self, d):
        self.d = d

    def __getitem__(self, k):
        return self.d[k]

    def __iter__(self):
        return iter(self.d)

    def __len__(self):
        return len(self.d)


@pytest.fixture
def read_only_mapping():
    """The type of a read-only mapping that is not a dict."""
    return _ReadOnlyMapping


class _ReadLog(dict):
    """A dict subclass that records every read made of it in `log`."""

    def __init__(self, log, *args, **kw):
        super().__init__(*args, **kw)
        self.log = log

    def __getitem__(self, k):
        self.log.append(k)
        return super().__getitem__(k)

    def get(self, k, default=None):
        self.log.append("get " + k)
        return super().get(k, default)

    def __contains__(self, k):
        self.log.append("in " + k)
        return super().__contains__(k)


@pytest.fixture
def read_log():
    """The type of a dict that logs its reads: read_log(log, ...)."""
    return _ReadLog


@pytest.fixture
def interrupt():
    """interrupt(seconds): a signal after `seconds` whose handler raises
    TimeoutError, as Ctrl-C's raises KeyboardInterrupt."""
    def handler(signum, frame):
        raise TimeoutError("interrupted")

    previous = signal.signal(signal.SIGALRM, handler)
    yield lambda seconds: signal.setitimer(signal.ITIMER_REAL, seconds)
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


@pytest.fixture
def bound():
    """The buffer cache's bound, set for one test and put back after it."""
    previous = wh.buffer_cache()
    yield wh.buffer_cache
    wh.buffer_cache(previous)
