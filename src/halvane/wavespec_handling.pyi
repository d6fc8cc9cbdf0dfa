"""
Pulse synthesis: shapes, time grid, carrier, filters and the sampling driver.
"""

from collections.abc import Iterable, Mapping, Sequence
from typing import Any

import numpy

import halvane.records


pi: float = 3.141592653589793

pi4: float = 0.7853981633974483

sq2: numpy.float64

def rng(pd: Mapping[str, Any], st: float, srate: float, N: int) -> tuple[int, int]:
    """
    The sample range a pulse may touch, with a guard of five samples.

    Parameters
    ----------
    pd : dict
        Pulse description; ``width``, ``plateau`` and ``pos`` are read.
    st : float
        Time of the window's first sample (s).
    srate : float
        Sample rate (samples per second).
    N : int
        Number of samples in the window.

    Returns
    -------
    tuple of int
        ``(max(a - 5, 0), min(a + b + 5, N))`` with
        ``a = int((pos - st) * srate)`` and ``b = int((width + plateau) * srate)``.
        The first may exceed the second for a pulse outside the window.
    """

def grad(sh: Any) -> Any:
    """
    Sample-wise derivative, for DRAG.

    Parameters
    ----------
    sh : array_like
        Samples.

    Returns
    -------
    numpy.ndarray
        ``0 * sh`` when ``len(sh) < 2``, else ``numpy.gradient(sh)``: unit
        spacing, central differences inside, one-sided at both ends. Times
        the sample rate it is the derivative per second.
    """

def fr(w: Any, max_: Any, min_: Any) -> Any:
    """
    Clamp a value between two bounds.

    Parameters
    ----------
    w : object
        The value.
    max_, min_ : object
        Upper and lower bound.

    Returns
    -------
    object
        ``max(min(w, max_), min_)``: one of the arguments itself, by the
        built-ins' comparisons. When the bounds cross (``min_ > max_``) the
        result is ``min_``.
    """

def nr(w: Any) -> Any:
    """
    Rescale to the range 0 to 1.

    Parameters
    ----------
    w : array_like

    Returns
    -------
    numpy.ndarray
        ``(w - min(w)) / (max(w) - min(w))``; NaN everywhere when all
        elements are equal.
    """

def mn(A: Any, B: Any) -> tuple[Any, Any]:
    """
    Order two values.

    Parameters
    ----------
    A, B : object

    Returns
    -------
    tuple
        ``(min(A, B), max(A, B))``, the arguments themselves; ties (and
        NaN) give ``(A, A)``, as the built-in ``min`` and ``max`` do.
    """

def mpdc(*pdcs: Mapping[str, list]) -> dict[str, list]:
    """
    Merge per-line pulse description collections.

    Parameters
    ----------
    *pdcs : dict
        Each maps line names to lists of pulse descriptions.

    Returns
    -------
    dict
        A new dict mapping every line name, in order of first appearance,
        to a new list of that line's entries from all arguments in order.
        The pulse descriptions themselves are not copied.
    """

def seige(x: Any, a: float, b: float, w: float) -> Any:
    """
    Phase of a sine edge: ``pi * (x * (b - a) / w + (b + a - 1) / 2)``.

    Maps ``x = -w/2`` to ``pi * (a - 1/2)`` and ``x = w/2`` to ``pi * (b - 1/2)``.

    Parameters
    ----------
    x : float or array_like
        Time from the edge's centre (s).
    a, b : float
        Ends of the phase window, in half turns from -1/2.
    w : float
        Edge width (s).

    Returns
    -------
    float or numpy.ndarray
        Phase (rad), of the shape of ``x``.
    """

def seige2pi(x: Any, w: float) -> Any:
    """
    Phase of a full sine period: ``2.0 * pi * (x / w)``, so ``x = +-w/2``
    maps to +-pi.

    Parameters
    ----------
    x : float or array_like
        Time from the centre (s).
    w : float
        Period (s).

    Returns
    -------
    float or numpy.ndarray
        Phase (rad), of the shape of ``x``.
    """

def square_edge(X: Any, x0: float) -> Any:
    """
    A step.

    Parameters
    ----------
    X : float or array_like
        Sample times (s).
    x0 : float
        Time of the step (s).

    Returns
    -------
    bool or numpy.ndarray
        ``X >= x0``, of the shape of ``X``.
    """

def sine_edge(X: numpy.ndarray, x0: float, w_: float = 1e-10, a_: float = 0, b_: float = 1) -> numpy.ndarray:
    """
    A rising edge from 0 to 1, centred on ``x0``.

    Over the half-open window [x0 - w/2, x0 + w/2), ``w = max(w_, 1e-10)``, the
    edge is the sine of ``seige(X - x0, a, b, w)`` rescaled so that the window's
    smaller end value is 0 and its larger one 1; it is 0 before the window
    and 1 from its end on. The scale values are ordered first. Equal ones
    give NaN samples.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s).
    x0 : float
        Centre of the edge (s).
    w_ : float
        Width of the edge (s); at least 1e-10 is used.
    a_, b_ : float
        Phase window of the sine (see ``seige``); 0 and 1 give
        a raised-cosine edge, 0.5 and 1 a quarter sine.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples.
    """

def sine_edge_2pi(X: numpy.ndarray, x0: float, w_: float = 1e-10) -> numpy.ndarray:
    """
    One full sine period over [x0 - w/2, x0 + w/2), ``w = max(w_, 1e-10)``:
    ``sin(seige2pi(X - x0, w))``, -1 a quarter window after the start, 0 at
    the centre, +1 a quarter window before the end, 0 outside.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s).
    x0 : float
        Centre of the period (s).
    w_ : float
        Length of the period (s); at least 1e-10 is used.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples.
    """

def square(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Rectangle: ``amp`` on [pos, pos + width + plateau), else 0.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def sine(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Sine edges around a flat top.

    The product of a rising ``sine_edge`` over [pos, pos + width/2) and the
    same edge mirrored in time, falling over the last width/2 of
    [pos, pos + width + plateau); ``scale_a`` (default 0) and ``scale_b``
    (default 1) choose the part of the sine that forms the edges. A width
    below 1e-14 gives ``square(X, pd)``.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def cosine(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    ``sine`` with raised-cosine edges (scale values 0 and 1, whatever
    ``pd`` holds).

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def hcosine(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    ``sine`` with quarter-sine edges (scale values 0.5 and 1).

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def hcosine_asys(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    ``hcosine`` with edge windows of width/2 times ``left_scale`` and
    ``right_scale`` (default 1 each) around the unchanged edge centres.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def sine2pi(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    One full sine period over [pos, pos + width + plateau): its phase runs
    from -pi, so the first half is negative and the second positive. A width
    below 1e-14 gives ``square(X, pd)``.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def tanh(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Two hyperbolic-tangent ramps.

    ``amp * tanh(2 * epsilon * u / tau)`` rising over (pos, pos + width/2) and
    its mirror image falling to pos + width, with ``u = X - pos`` and
    ``tau = width / 2``; boundaries have a tolerance of 1e-10 s. ``plateau``
    is not read.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def hyper(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Inverted hyperbolic cosine over [pos, pos + width], peak normalised to 1.

    ``cosh(epsilon/2) - cosh(epsilon * (u/width - 0.5))`` with ``u = X - pos``,
    divided by its largest sample on the grid, times ``amp``; ``epsilon``
    sets how flat the top is. ``plateau`` must be present but is unused.
    Epsilon 0, or no sample inside the pulse, gives NaN samples.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def gaussian(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Lifted Gaussian edges around a flat top.

    Over [pos, pos + width + plateau): each half of ``width`` is a Gaussian edge
    ``(exp(-u**2 / (2 * sigma**2)) - e0) / (1 - e0)``, u the time to the
    plateau and ``e0 = exp(-(width/2)**2 / (2 * sigma**2))``, so the pulse
    starts and ends at exactly 0; the plateau between the edges is exactly
    ``amp``. ``sigma`` (s) defaults to width/4, so each edge spans two standard
    deviations. With plateau 0 this is the lifted Gaussian, with a plateau
    the flat-top Gaussian. A width below 1e-14 gives ``square(X, pd)``; a
    sigma of 0 raises ZeroDivisionError.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

def netzero(X: numpy.ndarray, pd: Mapping[str, Any], cp: dict = {}) -> numpy.ndarray:
    """
    Net-zero flux pulse: two ``cosine`` halves back to back, the second negated.

    Each half has width/2 and plateau/2; the first starts at ``pos``, the
    second where the first ends, at pos + (width + plateau)/2. The integral
    over the pulse is 0 to rounding, so slow distortions of the line do not
    build up.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s), one-dimensional.
    pd : dict
        Pulse description.
    cp : dict
        Accepted and ignored, so that every shape takes ``(X, pd, cp)``.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples, ``amp`` included.
    """

shapeTable: dict = ...

def carrier(X: numpy.ndarray, freq: float, ph: float = 0, imb: float = 0) -> numpy.ndarray:
    """
    The complex carrier with IQ imbalance.

    ``A * cos(theta) - 1j * B * cos(theta + pi/2 + ph)`` with
    ``theta = 2 * pi * freq * X``, ``A = cos(pi/4 + imb) * sqrt(2)`` and
    ``B = sin(pi/4 + imb) * sqrt(2)``; with ``ph = imb = 0`` it is
    ``exp(1j * theta)``.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s).
    freq : float
        Carrier frequency (Hz).
    ph : float
        Phase skew of the quadrature part (rad).
    imb : float
        Amplitude-imbalance angle (rad): A**2 + B**2 stays 2.

    Returns
    -------
    numpy.ndarray
        A new complex128 array of ``len(X)`` samples.
    """

def _use_isa(isa: str) -> str:
    """
    Testing aid: run the vectorised paths on ``isa`` (scalar, avx2 or avx512)
    from now on, in the whole process; returns the previous choice.
    """

def _vmath_probe(fn: str, x: numpy.ndarray) -> numpy.ndarray:
    """
    Testing aid: the vectorised ``fn`` (sin, cos, cis, exp, cosh or tanh) of ``x``.
    """

def cal_iir_coef(input_list: Sequence) -> list:
    """
    IIR coefficients that undo a first-order model of a line's step response.

    Parameters
    ----------
    input_list : sequence of four numbers
        ``[A, B, tau, Ts]``: the step response A + B*exp(-t/tau) and the
        sample period Ts, in the unit of tau.

    Returns
    -------
    list
        ``[b0 - 1, b1 + 1, a1 - 1]`` of the bilinear discretisation of
        (1 + tau*s) / (A + (A + B)*tau*s), with lambda = 2*A*tau + 2*B*tau + A*Ts,
        b0 = (2*tau + Ts)/lambda, b1 = (Ts - 2*tau)/lambda and
        a1 = (2*A*tau + 2*B*tau - A*Ts)/lambda.
    """

def IIR_filtering(b0: Any, b1: Any, a1: Any, waveform: Sequence) -> numpy.ndarray:
    """
    One first-order IIR stage, from rest.

    Parameters
    ----------
    b0, b1, a1 : number
        y[n] = b0*x[n] + b1*x[n-1] + a1*y[n-1].
    waveform : sequence
        ``[X, Y]``; the samples ``Y`` are filtered.

    Returns
    -------
    numpy.ndarray
        ``lfilter([b0, b1], [1, -a1], Y, -1, zeros(1))[0]``, looked up as the
        module's ``lfilter`` at each call.
    """

def FIR_filtering(b: Sequence, start_time: Any, adjust: Any, waveform: Sequence) -> numpy.ndarray:
    """
    The FIR stage over a window of samples that starts at a given time.

    Parameters
    ----------
    b : sequence of numbers
        Tap weights.
    start_time : number
        Start of the window in microseconds; the index is
        int(start_time * 1e-6 / ((X[-1] - X[0]) / (len(X) - 1))).
    adjust : number
        Gain that multiplies every tap.
    waveform : sequence
        ``[X, Y]``: sample times (s) and float64 or complex128 samples.

    Returns
    -------
    numpy.ndarray
        A copy of ``Y`` whose samples from the start index on, for len(b)
        samples up to the end of the array, are the taps times ``adjust``
        convolved with ``Y`` from the start index. ValueError for fewer than
        two samples; IndexError when the window starts past the end.
    """

def fix(X: numpy.ndarray, Y: numpy.ndarray, iir: Iterable | None, fir: Sequence | None) -> numpy.ndarray:
    """
    The whole pre-distortion chain: IIR stages in order, then the FIR stage.

    Parameters
    ----------
    X : numpy.ndarray
        Sample times (s).
    Y : numpy.ndarray
        Samples; never modified.
    iir : iterable or None
        Coefficient triples from ``cal_iir_coef``; each runs through the
        module's ``IIR_filtering``.
    fir : sequence or None
        ``(b, start_time, adjust)`` for the module's ``FIR_filtering``.

    Returns
    -------
    numpy.ndarray
        A new array: ``Y`` after the chain.
    """

def pdc2pulse(pds: Iterable[halvane.records.PulseLike], li: halvane.records.RecordLike) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]:
    """
    Sample one control line's pulse descriptions.

    Parameters
    ----------
    pds : iterable of dict
        Pulse descriptions, processed in order. An entry with ``edge_shape``
        is a level step: from its start on, the line moves to ``amp`` through
        the edge and holds it, replacing what earlier entries wrote. Any other
        entry is a pulse: its envelope (``shape`` by name in ``shapeTable`` or
        a callable ``shape(X, pd, {})``), corrected by DRAG (``drag_scale``,
        then each of ``drag_list``), rotated by ``amp_scale *
        exp(1j*(phase + phase1))`` and the ``drag_detuning`` ramp about its
        centre, is added to S and, times ``carrier(X, freq, 0, 0)``, to W.
        A callable shape returns a fresh complex array of ``len(X)`` samples
        including ``amp``: the driver multiplies it by nothing before DRAG.
    li : mapping
        The sampling record: ``N`` samples at ``srate`` samples per second from
        ``st`` (default 0), resting level ``offset_global``, and optionally
        ``extra``, a dict of IIR models ``[A, B, tau, Ts]`` run over W's
        deviation from ``offset_global`` (None for no filtering; any other
        value raises TypeError).

    Returns
    -------
    tuple of numpy.ndarray
        ``(X, W, S)``: the sample times, the modulated line signal and the
        envelope signal (complex128). Neither ``pds`` nor ``li`` is modified.

    Examples
    --------
    >>> from halvane import wavespec_handling as wh
    >>> pulse = {'shape': 'cos', 'pos': 10e-9, 'width': 20e-9, 'plateau': 0, 'amp': 0.5,
    ...          'freq': 100e6, 'phase': 0, 'phase1': 0}
    >>> X, W, S = wh.pdc2pulse([pulse], {'N': 80, 'srate': 2e9, 'offset_global': 0.0})
    >>> X.shape, W.dtype, round(float(abs(S).max()), 6)
    ((80,), dtype('complex128'), 0.5)

    A callable shape gives its samples with ``amp`` in them:

    >>> flat = lambda X, pd, cp: pd['amp'] * (0 * X + 1) + 0j
    >>> S = wh.pdc2pulse([dict(pulse, shape=flat)], {'N': 80, 'srate': 2e9, 'offset_global': 0.0})[2]
    >>> float(abs(S).max())
    0.5
    """

def sample_lines(lines: Mapping[Any, Iterable[dict]], li: Mapping, *, threads: int | None = None, out: Mapping | None = None) -> dict[Any, tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]]:
    """
    Sample many control lines at once, on native threads.

    Each line gives exactly what ``pdc2pulse(lines[name], record)`` gives.
    The lines are read under the GIL, in order, with pdc2pulse's reads
    and errors (an error carries a note naming its line, and the call then
    returns no array and changes no ``out`` buffer), and rendered with the
    GIL released: each into new arrays as soon as it is read, into ``out``
    buffers once every line is read. When a collaborator of the driver (``rng``, ``grad``,
    ``carrier``, ``cal_iir_coef``, ``fix``, ``shapeTable`` or ``pdc2pulse``
    itself) has been rebound, the lines go one by one through
    ``pdc2pulse`` instead.

    Parameters
    ----------
    lines : mapping
        Line name to pulse descriptions, as ``circuit.collect_pdc`` gives.
    li : mapping
        One sampling record for every line, or a mapping from each line name
        to its own record (a mapping without the key ``N`` that has every
        line name).
    threads : int, optional
        How many threads render (the calling one included); default: the
        CPUs this process may use. Below 1 raises ValueError.
    out : mapping, optional
        Line name to a pair ``(W, S)`` of writeable, contiguous complex128
        arrays of the line's length, written in place of new arrays. A call
        that raises leaves them untouched, except when a signal's handler
        raises (Ctrl-C): rendering then stops, leaving partial samples.

    Returns
    -------
    dict
        Line name to ``(X, W, S)``, in the order of ``lines``.
    """

def _pdc2pulse_into(pds: Iterable[dict], li: Mapping, out: numpy.ndarray) -> numpy.ndarray:
    """
    ``pdc2pulse(pds, li)[1]`` written into ``out``, which it returns; no S is kept.

    For ``WaveSpec.sample(out=...)``; ``out`` must be a writeable, contiguous
    complex128 array of ``li['N']`` samples.
    """

def buffer_cache(limit: int | None = None) -> int:
    """
    The bound, in bytes, of the cache of released array buffers.

    Large arrays that this module makes (the sampling driver,
    ``sample_lines``, the shapes, ``carrier``, the filters) take their memory
    from a cache of buffers that such arrays released, so a loop that
    samples and drops its arrays reuses pages already in memory instead
    of getting fresh ones from the system. The arrays are ordinary numpy
    arrays. At most ``limit`` bytes are held; more goes back to the
    system. The bound starts at the environment variable
    ``HALVANE_BUFFER_CACHE`` (bytes, or with a K, M or G suffix) read at
    import, else 256 MiB.

    Parameters
    ----------
    limit : int, optional
        The new bound; 0 turns the cache off and gives back what it holds.
        Omitted, nothing changes.

    Returns
    -------
    int
        The bound before the call.
    """

def _buffer_cache_held() -> int:
    """The bytes the buffer cache holds now."""

_collaborators: tuple[str, ...]

__all__: list = ['pi', 'pi4', 'sq2', 'rng', 'grad', 'fr', 'nr', 'mn', 'mpdc', 'seige', 'seige2pi', 'square_edge', 'sine_edge', 'sine_edge_2pi', 'square', 'sine', 'cosine', 'hcosine', 'hcosine_asys', 'sine2pi', 'tanh', 'hyper', 'gaussian', 'netzero', 'shapeTable', 'carrier', 'cal_iir_coef', 'IIR_filtering', 'FIR_filtering', 'fix', 'pdc2pulse', 'sample_lines', 'buffer_cache']
