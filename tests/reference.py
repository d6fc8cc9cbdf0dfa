"""The numpy formulas that halvane's numeric functions are defined by, and the
one comparison the tests and benchmarks make against them.

Each formula is written as the interpreter would run it, in the same order of
operations, so that halvane must agree with it to rounding. The tests import
this module by name; the benchmarks put tests/ on sys.path first.
"""

import numpy as np
import scipy.signal

# ---- comparison ----------------------------------------------------------------


def assert_close(got, want, rel=1e-12):
    """`got` has the shape of `want`, NaN and infinities (with their signs)
    where `want` has them, in the real and the imaginary part alike, and
    every finite value within `rel` times the signal's magnitude (at least 1)."""
    got, want = np.asarray(got), np.asarray(want)
    assert got.shape == want.shape, (got.shape, want.shape)
    # The magnitude of each part alone: that of a complex value near the
    # largest double can overflow.
    parts = [(part(got), part(want)) for part in (np.real, np.imag)]
    scale = max([1.0] + [float(np.abs(w[np.isfinite(w)]).max(initial=0.0)) for _, w in parts])
    for g, w in parts:
        np.testing.assert_array_equal(np.isnan(g), np.isnan(w))
        np.testing.assert_array_equal(np.isinf(g) & (g > 0), np.isinf(w) & (w > 0))
        np.testing.assert_array_equal(np.isinf(g) & (g < 0), np.isinf(w) & (w < 0))
        ok = np.isfinite(w)
        np.testing.assert_allclose(g[ok], w[ok], rtol=0, atol=rel * scale)


# ---- time grid -------------------------------------------------------------------


def rng(pd, st, srate, N):
    dur = pd["width"] + pd["plateau"]
    a = int((pd["pos"] - st) * srate)
    b = int(dur * srate)
    return (max(a - 5, 0), min(a + b + 5, N))


def grad(sh):
    return 0 * sh if len(sh) < 2 else np.gradient(sh)


def mn(A, B):
    return (min(A, B), max(A, B))


# ---- edges and envelopes -----------------------------------------------------------


def seige(x, a, b, w):
    return np.pi * (x * (b - a) / w + (b + a - 1) / 2)


def seige2pi(x, w):
    return 2.0 * np.pi * (x / w)


def sine_edge(X, x0, w_=1e-10, a_=0, b_=1):
    w = w_ if w_ > 1e-10 else 1e-10
    a, b = mn(a_, b_)
    l, r = mn(np.sin(seige(-w / 2, a, b, w)), np.sin(seige(w / 2, a, b, w)))
    Y = np.zeros(len(X), dtype=np.complex128)
    Y += ((X >= x0 - w / 2) & (X < x0 + w / 2)) * (np.sin(seige(X - x0, a, b, w)) - l) / (r - l)
    Y += X >= x0 + w / 2
    return Y


def sine_edge_2pi(X, x0, w_=1e-10):
    w = w_ if w_ > 1e-10 else 1e-10
    Y = np.zeros(len(X), dtype=np.complex128)
    Y += ((X >= x0 - w / 2) & (X < x0 + w / 2)) * np.sin(seige2pi(X - x0, w))
    return Y


def square(X, pd, cp=None):
    p = pd["pos"]
    w = pd["width"] + pd["plateau"]
    return pd["amp"] * (((X >= p) & (X < p + w)) + 0j)


def _sine_like(X, pd, a, b, ls=1, rs=1):
    if np.abs(pd["width"]) < 1e-14:
        return square(X, pd)
    p = pd["pos"] + pd["width"] / 4
    return (pd["amp"] * sine_edge(X, p, pd["width"] / 2 * ls, a, b)
            * sine_edge(-X, -(p + pd["width"] / 2 + pd["plateau"]), pd["width"] / 2 * rs, a, b))


def sine(X, pd, cp=None):
    return _sine_like(X, pd, pd.get("scale_a", 0), pd.get("scale_b", 1))


def cosine(X, pd, cp=None):
    return _sine_like(X, pd, 0, 1)


def hcosine(X, pd, cp=None):
    return _sine_like(X, pd, 0.5, 1)


def hcosine_asys(X, pd, cp=None):
    return _sine_like(X, pd, 0.5, 1, pd.get("left_scale", 1), pd.get("right_scale", 1))


def sine2pi(X, pd, cp=None):
    if np.abs(pd["width"]) < 1e-14:
        return square(X, pd)
    p = pd["pos"] + (pd["width"] + pd["plateau"]) / 2
    return pd["amp"] * sine_edge_2pi(X, p, pd["width"] + pd["plateau"])


def tanh(X, pd, cp=None):
    p, w, amp, epsilon = pd["pos"], pd["width"], pd["amp"], pd["epsilon"]
    u = X - p
    tau = w / 2
    rise = amp * np.tanh(2 * epsilon * u / tau) * (((u >= 1e-10) & (u - w / 2 < 1e-10)) + 0j)
    fall = amp * np.tanh(2 * epsilon * (2 * tau - u) / tau) * (((u - w / 2 >= 1e-10) & (u - w <= 1e-10)) + 0j)
    return rise + fall


def hyper(X, pd, cp=None):
    p, w, amp, epsilon = pd["pos"], pd["width"], pd["amp"], pd["epsilon"]
    u = X - p
    h = np.cosh(epsilon / 2) - np.cosh(epsilon * (u / w - 0.5))
    rising, falling = (u >= 1e-20) & (u - w / 2 < 1e-20), (u - w / 2 >= 1e-20) & (u - w <= 1e-20)
    y = h * (rising + 0j) + h * (falling + 0j)
    # Mended: outside both halves a sample is 0 even where cosh overflowed
    # (-inf * 0 would make every sample NaN after the normalisation).
    y[~rising & ~falling & ~np.isnan(h)] = 0
    y /= np.max(y)
    return amp * y


def gaussian(X, pd, cp=None):
    if np.abs(pd["width"]) < 1e-14:
        return square(X, pd)
    p, w, pl, amp = pd["pos"], pd["width"], pd["plateau"], pd["amp"]
    sigma = pd.get("sigma", w / 4)
    h = w / 2
    c = 2 * sigma * sigma
    e0 = np.exp(-(h * h) / c)
    u = X - p
    # the time to the plateau: before it, after it, 0 on it
    t = np.where(u < h, u - h, np.where(u > h + pl, u - (h + pl), 0.0))
    edge = (np.exp(-(t * t) / c) - e0) / (1 - e0)
    return amp * (edge * ((X >= p) & (X < p + (w + pl))) + 0j)


def netzero(X, pd, cp=None):
    w, pl = pd["width"] / 2, pd["plateau"] / 2
    half = dict(pd, width=w, plateau=pl)
    first = cosine(X, half)
    half["pos"] = pd["pos"] + (w + pl)
    return first - cosine(X, half)


# The shape table by name, as the sampling driver reaches it.
SHAPE_TABLE = {"sinedpi": sine2pi, "sine": sine, "square": square, "cos": cosine, "hcos_asys": hcosine_asys,
               "hcos": hcosine, "tanh": tanh, "hyper": hyper, "gauss": gaussian, "netzero": netzero,
               "sine_edge": sine_edge}


# ---- carrier -------------------------------------------------------------------------


def carrier(X, freq, ph=0, imb=0):
    A = np.cos(np.pi / 4 + imb) * np.sqrt(2)
    B = np.sin(np.pi / 4 + imb) * np.sqrt(2)
    p2 = np.pi / 2 + ph
    return A * np.cos(2 * np.pi * freq * X) - 1j * B * np.cos(2 * np.pi * freq * X + p2)


# ---- pre-distortion filters ---------------------------------------------------------------


def cal_iir_coef(input_list):
    A, B, tau, Ts = input_list
    lam = 2 * A * tau + 2 * B * tau + A * Ts
    return [(2 * tau + Ts) / lam - 1, (-2 * tau + Ts) / lam + 1, (2 * A * tau + 2 * B * tau - A * Ts) / lam - 1]


def iir_filtering(b0, b1, a1, y):
    return scipy.signal.lfilter([b0, b1], [1, -a1], y, -1, np.zeros(1))[0]


def fir_filtering(b, start_time, adjust, X, Y):
    """The window of taps from start_time (us), up to the end of the array."""
    out = np.copy(Y)
    start = int(start_time * 1e-6 / ((X[-1] - X[0]).real / (len(X) - 1)))
    for n in range(start, start + len(b)):
        if n == len(X):
            break
        out[n] = 0
        for k in range(n - start + 1):
            out[n] += adjust * b[k] * Y[n - k]
    return out


# ---- sampling driver ----------------------------------------------------------------------


def pdc2pulse(pds, li, table=SHAPE_TABLE, rng=rng):
    """One line's samples X, W, S; shapes by name from `table`."""
    N, srate, gof, tx_st = li["N"], li["srate"], li["offset_global"], li.get("st", 0)
    X = np.linspace(tx_st, tx_st + N / srate, N, endpoint=False)
    W = np.zeros(N, dtype=np.complex128)
    S = np.zeros(N, dtype=np.complex128)
    W.fill(gof)
    S.fill(gof)
    bias = gof
    for pd in pds:
        st, ed = rng(pd, tx_st, srate, N)
        if "edge_shape" in pd:
            # A level step writes from its own first sample.
            first = max(int((pd["pos"] - tx_st) * srate), 0)
            edge_fn = table[pd["edge_shape"]]
            edge = (pd["amp"] - bias) * edge_fn(X[first:], pd["pos"] + pd["width"] / 2, pd["width"]) + bias
            W[first:] = edge
            S[first:] = edge
            bias = pd["amp"]
            continue
        if ed - st < 2:
            continue
        wX = X[st:ed]
        shape = pd["shape"]
        sh = (table[shape] if type(shape) is str else shape)(wX, pd, {})
        for drag in [pd.get("drag_scale", 0), *pd.get("drag_list", [])]:
            sh = sh + 1j * grad(sh) * srate * drag
        center = (pd["width"] + pd["plateau"]) / 2 + pd["pos"]
        sh = (pd.get("amp_scale", 1) * np.exp(1j * (pd["phase"] + pd["phase1"])) * sh
              * np.exp(2j * np.pi * pd.get("drag_detuning", 0) * (wX - center)))
        W[st:ed] += sh * carrier(wX, pd["freq"], 0, 0)
        S[st:ed] += sh
    if isinstance(li.get("extra"), dict):
        Y = np.copy(W) - gof
        for model in li["extra"].values():
            b0, b1, a1 = np.array(cal_iir_coef(model)) + [1, -1, 1]
            Y = iir_filtering(b0, b1, a1, Y)
        W[:] = Y + gof
    return X, W, S


# ---- a driven two-level qubit -------------------------------------------------------------


def rotation(phi, angle):
    """The rotation by `angle` about cos(phi)·x + sin(phi)·y: exp(-i·angle/2·(cos φ σx + sin φ σy))."""
    c, s = np.cos(angle / 2), np.sin(angle / 2)
    return np.array([[c, -1j * s * np.exp(-1j * phi)], [-1j * s * np.exp(1j * phi), c]])


def rz(theta):
    """The rotation by `theta` about z: exp(-i·theta/2·σz)."""
    return np.diag([np.exp(-0.5j * theta), np.exp(0.5j * theta)])


def propagate(S, dt, rabi):
    """The propagator of a qubit driven, in its rotating frame, by the envelope
    `S` held constant over each sample of length `dt`: the Hamiltonian of
    sample k is rabi/2·(Re S_k σx + Im S_k σy), so a pulse of phase φ turns
    the qubit about cos φ·x + sin φ·y, by rabi·Σ|S_k|·dt."""
    U = np.eye(2, dtype=complex)
    for s in np.asarray(S)[np.abs(S) > 0]:
        U = rotation(np.angle(s), rabi * abs(s) * dt) @ U
    return U


# ---- DAC codes -------------------------------------------------------------------------


def quantize(w, bits=16, full_scale=1.0, offset=0.0, coding="twos"):
    """Codes of `w` as a user writes them with numpy (I and Q on a last axis
    for complex samples), saturated, and 0 for a value that is not finite."""
    w = np.asarray(w)
    x = np.stack([w.real, w.imag], axis=-1) if np.iscomplexobj(w) else w.astype(np.float64)
    top = 2.0 ** (bits - 1) - 1
    with np.errstate(invalid="ignore", over="ignore"):
        codes = np.rint(np.clip((x + offset) * (top / full_scale), -top, top))
    codes = np.where(np.isfinite(x), codes, 0.0).astype(np.int64)
    return codes + 2 ** (bits - 1) if coding == "offset" else codes


def interval_peaks(w, oversample=8):
    """Per sample, the peak magnitude over its `oversample` points of `w`
    interpolated in one piece, held at its first and last sample beyond the ends:
    a Kaiser-windowed sinc (beta 5, ten samples each side) whose every phase
    sums to 1, so that a constant passes unchanged."""
    h = scipy.signal.firwin(20 * oversample + 1, 1 / oversample, window=("kaiser", 5.0))
    sums = np.array([h[p::oversample].sum() for p in range(oversample)])
    h = h / (sums[np.arange(h.size) % oversample] * oversample)
    smooth = scipy.signal.resample_poly(w, oversample, 1, window=h, padtype="edge")
    return np.abs(smooth).reshape(len(w), oversample).max(axis=1)
