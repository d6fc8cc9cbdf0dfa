"""halvane.export: codes that never wrap, clipping traced to its entries, files read back."""

import dataclasses
import json
import os
import pickle
import threading
import wave

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import reference
from halvane import _export, export, wavespec_handling

SRATE = 2e9
NAN, INF = float("nan"), float("inf")


def pulse(**kw):
    return {"shape": "square", "pos": 20e-9, "width": 0, "plateau": 100e-9, "amp": 0.5, "freq": 100e6,
            "phase": 0, "phase1": 0, **kw}


# ---- quantize ---------------------------------------------------------------------

SAMPLES = [0.0, 0.5, -0.5, 1.0, -1.0, 1.2, -3.0, 0.99999, 1e300, NAN, INF, -INF, 2.5 / 32767, 1.5 / 32767]


@pytest.mark.parametrize("bits", [2, 8, 9, 14, 16, 24, 32])
@pytest.mark.parametrize("coding", ["twos", "offset"])
@pytest.mark.parametrize("offset, full_scale", [(0.0, 1.0), (0.1, 0.8)])
def test_codes_are_the_numpy_formula_saturated(bits, coding, offset, full_scale):
    x = np.array(SAMPLES)
    w = np.empty((len(x), 2), complex)  # NaN and inf in either part, 2-D
    w.real, w.imag = x[:, None], x[::-1, None] * np.array([1, -0.3])
    codes, report = export.quantize(w, bits=bits, full_scale=full_scale, offset=offset, coding=coding)
    width = 8 if bits <= 8 else 16 if bits <= 16 else 32
    assert codes.dtype == np.dtype(f"{'int' if coding == 'twos' else 'uint'}{width}")
    assert codes.shape == w.shape + (2,)
    np.testing.assert_array_equal(codes, reference.quantize(w, bits, full_scale, offset, coding))
    real_codes, _ = export.quantize(w.real, bits=bits, full_scale=full_scale, offset=offset, coding=coding)
    np.testing.assert_array_equal(real_codes, codes[..., 0])


def test_the_report_counts_per_channel_and_says_where():
    w = np.zeros(20000, complex)
    w[[3, 7, 19000]] = [1.25, -2.0, 1.5]                    # I clips at 3, 7 and 19000
    w.imag[[5, 12000]] = [NAN, 1.01]                         # Q: one NaN, one clip
    w[100:120] += 1.1                                        # I: twenty more, after the first eight are noted
    codes, report = export.quantize(w, bits=12)
    assert report.channels == ("I", "Q") and report.samples == 20000
    assert report.clipped == (23, 1) and report.nonfinite == (0, 1) and not report.ok
    assert report.first_clipped == ((3, 7, 100, 101, 102, 103, 104, 105), (12000,))
    assert report.excess == pytest.approx(1.0)               # -2.0 is one full scale over
    assert codes[7, 0] == -2047 and codes[5, 1] == 0 and codes[5, 0] == 0
    assert str(report) == ("I: 23 clipped (first at 3, 7, 100, 101, 102, 103, 104, 105); Q: 1 clipped "
                           "(first at 12000); Q: 1 NaN or infinite, written as 0, up to 1 of full scale over it")
    _, fine = export.quantize(np.full(5, 1.0), bits=4)       # exactly full scale is no clipping
    assert fine.ok and fine.excess == 0 and str(fine) == "all 5 samples within full scale"


def test_huge_and_empty_inputs():
    codes, report = export.quantize([1e308, -1e308], offset=0.0)
    assert codes.tolist() == [32767, -32767] and report.clipped == (2,)
    codes, report = export.quantize(np.zeros((0, 3), complex))
    assert codes.shape == (0, 3, 2) and report.ok
    for tail, clipped, nonfinite in [(3.0, 1, 0), (NAN, 0, 1), (-INF, 0, 1)]:  # an odd value out
        codes, report = export.quantize([0.1, 0.2, tail], bits=8)
        assert (report.clipped, report.nonfinite) == ((clipped,), (nonfinite,))
        assert report.first_clipped == ((2,) if clipped else (),) and codes.tolist() == [13, 25, 127 if clipped else 0]


@settings(max_examples=60, deadline=None)
@given(w=hnp.arrays(np.float64, st.integers(0, 300), elements=st.floats(-3, 3)),
       bits=st.integers(2, 32), coding=st.sampled_from(["twos", "offset"]),
       full_scale=st.floats(0.25, 4))
def test_dequantize_inverts_in_range_and_saturates_beyond(w, bits, coding, full_scale):
    codes, report = export.quantize(w, bits=bits, full_scale=full_scale, coding=coding)
    back = export.dequantize(codes, bits=bits, full_scale=full_scale, coding=coding, complex_codes=False)
    step = full_scale / (2.0 ** (bits - 1) - 1)
    inside = np.abs(w) <= full_scale
    # half a step, and the rounding of the values themselves (a tie lands exactly half a step away)
    assert np.all(np.abs(back[inside] - w[inside]) <= step / 2 + 4 * np.finfo(float).eps * full_scale)
    np.testing.assert_allclose(back[~inside], np.sign(w[~inside]) * full_scale, rtol=1e-12)
    assert report.clipped == (int((~inside).sum()),)


def test_dequantize_joins_i_and_q():
    w = np.array([0.3 - 0.2j, -0.7 + 0.9j])
    codes, _ = export.quantize(w, bits=14, coding="offset", offset=0.05, full_scale=2)
    back = export.dequantize(codes, bits=14, coding="offset", offset=0.05, full_scale=2)
    assert back.dtype == complex
    assert np.abs(back.real - w.real).max() <= 2 / 8191 / 2 and np.abs(back.imag - w.imag).max() <= 2 / 8191 / 2


@pytest.mark.parametrize("kw, error, text", [
    ({"bits": 1}, ValueError, "bits must be from 2 to 32, not 1"),
    ({"bits": 33}, ValueError, "bits must be from 2 to 32, not 33"),
    ({"bits": 16.0}, TypeError, "bits must be an int, not float"),
    ({"bits": True}, TypeError, "bits must be an int, not bool"),
    ({"full_scale": 0}, ValueError, "full_scale must be a positive finite number, not 0.0"),
    ({"full_scale": NAN}, ValueError, "full_scale must be a positive finite number, not nan"),
    ({"full_scale": "1"}, TypeError, "full_scale must be a real number, not str"),
    ({"offset": INF}, ValueError, "offset must be a finite number, not inf"),
    ({"coding": "ones"}, ValueError, "coding must be one of 'twos', 'offset', not 'ones'"),
    ({"w": ["a", "b"]}, TypeError, "w must be an array of numbers, not of dtype <U1"),
    ({"w": [object()]}, TypeError, "w must be an array of numbers, not of dtype object"),
])
def test_bad_arguments_are_named(kw, error, text):
    with pytest.raises(error, match=f"^{text}$".replace("(", r"\(").replace(")", r"\)")):
        export.quantize(kw.pop("w", [0.5]), **kw)


class Lying(np.ndarray):
    """An array whose Python-level attributes claim more than its memory holds."""

    def __len__(self):
        return 10**6

    @property
    def dtype(self):
        return np.dtype(np.int32)


def test_the_native_loop_judges_arrays_by_their_memory():
    x = np.linspace(-1, 1, 8)
    out = np.zeros(16, np.int16).view(Lying)[:8]
    assert _export.quantize(x, out, 1, 0.0, 1.0, 16, False)[0][0] == 0
    np.testing.assert_array_equal(np.asarray(out), reference.quantize(x))
    bad = [
        (x[::2], np.zeros(4, np.int16), "x must be a C-contiguous array"),
        (x, np.zeros(8, np.int16)[::-1], "out must be a C-contiguous writable array"),
        (x, np.zeros(8, np.int16).view(Lying)[:4], "out must have one code per value of x"),
        (x.astype(np.float32), np.zeros(8, np.int16), "x must be a float64 array"),
        (x, np.zeros(8, np.uint16), "out must be a signed integer array wide enough for the codes"),
        (x, np.zeros(8, np.int8), "out must be a signed integer array wide enough for the codes"),
        (x, np.zeros(8, np.int64), "out must hold codes of 8, 16 or 32 bits"),
        ([0.5] * 8, np.zeros(8, np.int16), "x must be a C-contiguous array, not list"),
    ]
    readonly = np.zeros(8, np.int16)
    readonly.flags.writeable = False
    bad.append((x, readonly, "out must be a C-contiguous writable array"))
    for xs, o, text in bad:
        with pytest.raises(ValueError, match=text):
            _export.quantize(xs, o, 1, 0.0, 1.0, 16, False)
    with pytest.raises(ValueError, match="whole number of samples"):
        _export.quantize(x[:7], np.zeros(7, np.int16), 2, 0.0, 1.0, 16, False)


def test_threads_quantize_alike():
    rng = np.random.default_rng(7)
    waves = [rng.normal(0, 0.5, 50_000) + 1j * rng.normal(0, 0.5, 50_000) for _ in range(4)]
    results = [None] * 4

    def work(i):
        results[i] = export.quantize(waves[i], bits=14)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for w, (codes, report) in zip(waves, results):
        np.testing.assert_array_equal(codes, reference.quantize(w, 14))
        assert report == export.quantize(w, bits=14)[1]


# ---- halvane's own three ways to go wrong ------------------------------------------

FLUX_STEP = {"edge_shape": "sine_edge", "pos": 100e-9, "width": 4e-9, "plateau": 0, "amp": 0.98}
FLUX_RECORD = {"N": 3000, "srate": SRATE, "offset_global": 0.0,
               "extra": {"slow": [1.0, -0.1, 250e-9, 1 / SRATE], "fast": [1.0, 0.04, 20e-9, 1 / SRATE]}}


def test_a_predistorted_step_saturates_and_is_traced_to_its_step():
    lines = {"c01_z": [pulse(pos=10e-9, plateau=20e-9, amp=0.3, freq=0), dict(FLUX_STEP)]}
    _, w, _ = wavespec_handling.pdc2pulse(lines["c01_z"], FLUX_RECORD)
    over = np.abs(w.real) > 1
    assert over.sum() > 500                                    # the pre-distortion overshoots
    assert (np.rint(w.real * 32767).astype(np.int16)[over] < 0).any()  # what astype does: a wrap
    codes, report = export.quantize(w)
    assert (codes[over, 0] == 32767).all() and report.clipped == (over.sum(), 0)
    assert report.first_clipped[0][0] == np.flatnonzero(over)[0]
    found = export.clip_report(lines, FLUX_RECORD)
    (clip,) = found.values()
    assert clip.line == "c01_z" and clip.clipped == over.sum() and clip.excess == pytest.approx(report.excess)
    assert [str(e) for e in clip.entries] == ["entry #1 (level step, edge_shape 'sine_edge', pos 1e-07 s)"]


def test_a_square_on_a_carrier_peaks_between_its_samples():
    lines = {"q0_xy": [pulse(amp=0.2, pos=0), pulse(amp=0.95, pos=300e-9)]}
    record = {"N": 1000, "srate": SRATE, "offset_global": 0.0}
    _, w, _ = wavespec_handling.pdc2pulse(lines["q0_xy"], record)
    assert export.quantize(w)[1].ok and export.clip_report(lines, record) == {}
    assert export.true_peak(w) > 1.07
    (clip,) = export.clip_report(lines, record, true_peak=True).values()
    assert clip.peak == pytest.approx(export.true_peak(w)) and clip.excess == pytest.approx(clip.peak - 1)
    assert clip.clipped == 0 and [e.index for e in clip.entries] == [1]
    assert "a true peak of 1.076 between the samples" in str(clip)


def test_nan_is_caught_where_a_comparison_lets_it_pass():
    lines = {"q1_xy": [pulse(), pulse(pos=400e-9, amp=NAN)]}
    record = {"N": 1000, "srate": SRATE, "offset_global": 0.0}
    _, w, _ = wavespec_handling.pdc2pulse(lines["q1_xy"], record)
    assert not np.any(np.abs(w) > 1)                          # the check by hand passes it
    codes, report = export.quantize(w)
    assert not report.ok and report.nonfinite[0] > 0 and (codes[np.isnan(w.real), 0] == 0).all()
    (clip,) = export.clip_report(lines, record).values()
    assert clip.nonfinite > 0 and [e.index for e in clip.entries] == [1]
    assert np.isnan(export.true_peak(w))


def test_excess_before_every_entry_is_the_resting_level():
    record = {"N": 800, "srate": SRATE, "offset_global": 1.5}
    (clip,) = export.clip_report({"z": [pulse(pos=200e-9)]}, record).values()
    assert [str(e) for e in clip.entries] == ["the resting level (offset_global)",
                                             "entry #0 (pulse, shape 'square', pos 2e-07 s)"]


def test_clip_report_takes_a_record_per_line():
    lines = {"a": [pulse(amp=1.2)], "b": [pulse(amp=0.5)]}
    records = {"a": {"N": 400, "srate": SRATE, "offset_global": 0.0},
               "b": {"N": 10, "srate": SRATE, "offset_global": 0.0}}
    assert list(export.clip_report(lines, records)) == ["a"]
    assert export.clip_report(lines, records, full_scale=1.5) == {}


# ---- true_peak ------------------------------------------------------------------------


def test_true_peak_finds_the_crest_the_samples_miss():
    n = np.arange(4000)
    ramp = np.sin(np.linspace(0, np.pi / 2, 400)) ** 2       # quiet ends: nothing rings there
    w = 0.9 * np.cos(2 * np.pi * 0.2 * n + 0.1 * np.pi) * np.concatenate([ramp, np.ones(3200), ramp[::-1]])
    assert np.abs(w).max() < 0.86                            # no sample on a crest
    assert export.true_peak(w) == pytest.approx(0.9, abs=2e-3)
    assert export.true_peak(w * np.exp(1j * 0.3)) == pytest.approx(0.9, abs=2e-3)
    assert export.true_peak(w, oversample=1) == np.abs(w).max()
    assert export.true_peak([]) == 0 and export.true_peak([0.5]) == 0.5
    assert np.isnan(export.true_peak([0.1, INF, 0.1]))
    with pytest.raises(ValueError, match="^oversample must be at least 1, not 0$"):
        export.true_peak(w, oversample=0)


def test_true_peak_in_pieces_is_true_peak_in_one(monkeypatch):
    monkeypatch.setattr(export, "_CHUNK", 100)
    rng = np.random.default_rng(3)
    w = rng.standard_normal(1234) + 1j * rng.standard_normal(1234)
    w[[99, 100, 650]] = [6, 7j, -8]                          # the peaks at and near the seams of the pieces
    for oversample in (2, 8):
        want = reference.interval_peaks(w, oversample)
        np.testing.assert_array_equal(export._interval_peaks(w, oversample), want)  # where clip_report looks
        assert export.true_peak(w, oversample=oversample) == want.max()


# ---- lengths and words ----------------------------------------------------------------


def test_fit_length_pads_with_the_resting_level_or_zeros():
    codes = np.arange(40, dtype=np.int16).reshape(20, 2)
    same = export.fit_length(codes, quantum=4, min_length=8)
    assert np.shares_memory(same, codes) and same.shape == codes.shape
    longer = export.fit_length(codes, quantum=16, min_length=8)
    assert longer.shape == (32, 2) and (longer[:20] == codes).all() and (longer[20:] == [38, 39]).all()
    zeros = export.fit_length(codes, quantum=1, min_length=24, pad="zeros")
    assert zeros.shape == (24, 2) and not zeros[20:].any()
    assert export.fit_length(np.array([]), quantum=16, min_length=0).shape == (0,)
    assert export.fit_length(np.array([]), quantum=16, min_length=1).tolist() == [0.0] * 16
    with pytest.raises(ValueError, match="^quantum must be at least 1, not 0$"):
        export.fit_length(codes, quantum=0)
    with pytest.raises(ValueError, match="^pad must be one of 'rest', 'zeros', not 'edge'$"):
        export.fit_length(codes, pad="edge")


def test_interleave_packs_markers_into_the_low_bits():
    codes, _ = export.quantize(np.array([0.5 + 0.25j, -1 - 1j]), bits=14)
    assert export.interleave(codes).tolist() == [4096, 2048, -8191, -8191]
    words = export.interleave(codes, markers=[[1, 0], [3, 2]])
    assert words.dtype == np.int16 and words.tolist() == [4096 * 4 + 1, 2048 * 4, -8191 * 4 + 3, -8191 * 4 + 2]
    assert (export.interleave(codes, markers=[1, 2], marker_bits=2) & 3).tolist() == [1, 1, 2, 2]
    with pytest.raises(ValueError, match="codes must fit 14 bits to leave marker_bits=2 in 16-bit words"):
        export.interleave(export.quantize([1.0 + 0j], bits=16)[0], markers=[0])
    with pytest.raises(ValueError, match="markers must be from 0 to 3 for marker_bits=2"):
        export.interleave(codes, markers=[4, 0])
    with pytest.raises(TypeError, match="codes must be an array of integers, not of dtype float64"):
        export.interleave([0.5])


# ---- files ------------------------------------------------------------------------------


def test_files_read_back_equal(tmp_path):
    w = np.exp(2j * np.pi * np.arange(64) / 16) * 0.7
    codes, _ = export.quantize(w)
    export.write(tmp_path / "w.npy", codes, rate=SRATE)
    np.testing.assert_array_equal(np.load(tmp_path / "w.npy"), codes)
    export.write(tmp_path / "w.csv", codes, rate=SRATE)
    text = (tmp_path / "w.csv").read_text().splitlines()
    assert text[:2] == ["# rate 2000000000.0 Hz", "# I,Q"]
    np.testing.assert_array_equal(np.loadtxt(tmp_path / "w.csv", delimiter=",", dtype=np.int64), codes)
    export.write(tmp_path / "s.csv", w, rate=SRATE)            # samples keep every bit
    table = np.loadtxt(tmp_path / "s.csv", delimiter=",")
    np.testing.assert_array_equal(table[:, 0] + 1j * table[:, 1], w)
    export.write(tmp_path / "w.wav", codes, rate=1e9)
    with wave.open(str(tmp_path / "w.wav"), "rb") as f:
        assert (f.getnchannels(), f.getsampwidth(), f.getframerate(), f.getnframes()) == (2, 2, 1_000_000_000, 64)
        frames = np.frombuffer(f.readframes(64), dtype="<i2").reshape(64, 2)
    np.testing.assert_array_equal(frames, codes)
    u8, _ = export.quantize(w.real, bits=8, coding="offset")
    export.write(tmp_path / "u.dat", u8, rate=1e9, format="wav")
    with wave.open(str(tmp_path / "u.dat"), "rb") as f:
        assert f.getnchannels() == 1 and np.frombuffer(f.readframes(64), np.uint8).tolist() == u8.tolist()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["s.csv", "u.dat", "w.csv", "w.npy", "w.wav"]
    umask = os.umask(0)
    os.umask(umask)
    assert (tmp_path / "w.npy").stat().st_mode & 0o777 == 0o666 & ~umask


@pytest.mark.parametrize("name, data, kw, error, text", [
    ("w.txt", [1], {"rate": 1e9}, ValueError, "path must end in .npy, .csv or .wav"),
    ("w.npy", [1], {"rate": 0}, ValueError, "rate must be a positive finite number, not 0.0"),
    ("w.npy", [1], {"rate": 1e9, "format": "mat"}, ValueError, "format must be one of"),
    ("w.wav", [0.5], {"rate": 1e9}, TypeError, ".wav holds integer codes, not samples of dtype float64"),
    ("w.wav", np.array([1], np.uint16), {"rate": 1e9}, ValueError, ".wav holds 8-bit codes unsigned"),
    ("w.wav", np.array([1], np.int16), {"rate": 1e9 + 0.5}, ValueError, "rate must be a whole number"),
    ("w.wav", np.array([[1, 2]], np.int16), {"rate": 2e9}, ValueError, "bytes per second below 2..32"),
    ("w.npy", np.float64(1), {"rate": 1e9}, ValueError, "data must have a sample axis"),
])
def test_nothing_is_written_for_a_call_that_raises(tmp_path, name, data, kw, error, text):
    (tmp_path / name).write_bytes(b"before")
    with pytest.raises(error, match=text):
        export.write(tmp_path / name, data, **kw)
    assert [p.name for p in tmp_path.iterdir()] == [name] and (tmp_path / name).read_bytes() == b"before"


def test_a_failing_write_leaves_the_old_file_and_no_temporary(tmp_path, monkeypatch):
    (tmp_path / "w.npy").write_bytes(b"before")

    def fail(*args, **kw):
        raise OSError("disk full")

    monkeypatch.setattr(np, "save", fail)
    with pytest.raises(OSError, match="disk full"):
        export.write(tmp_path / "w.npy", [1, 2], rate=1e9)
    assert [p.name for p in tmp_path.iterdir()] == ["w.npy"] and (tmp_path / "w.npy").read_bytes() == b"before"


# ---- instruments -----------------------------------------------------------------------

RECORD = {"N": 400, "srate": SRATE, "offset_global": 0.0}


def test_export_lines_writes_files_and_a_manifest(tmp_path):
    lines = {"q0_xy": [pulse(plateau=50e-9)], "c01_z": [dict(FLUX_STEP, amp=0.4)]}
    record = dict(RECORD, N=399)
    manifest = export.export_lines(lines, record, export.GENERIC_14_OFFSET, tmp_path / "out")
    assert json.loads((tmp_path / "out" / "manifest.json").read_text()) == manifest
    assert manifest["profile"]["name"] == "generic 14-bit offset binary" and manifest["version"]
    entry = manifest["lines"][0]
    assert entry["line"] == "q0_xy" and entry["file"] == "q0_xy.npy" and entry["rate"] == SRATE
    assert (entry["samples"], entry["length"]) == (399, 416) and entry["clipping"]["ok"]
    for line in manifest["lines"]:
        codes = np.load(tmp_path / "out" / line["file"])
        _, w, _ = wavespec_handling.pdc2pulse(lines[line["line"]], record)
        want = reference.quantize(w, 14, coding="offset")
        assert codes.dtype == np.uint16 and codes.shape == (416, 2)
        np.testing.assert_array_equal(codes[:399], want)
        assert (codes[399:] == want[-1]).all()                 # padded with the resting level
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["c01_z.npy", "manifest.json", "q0_xy.npy"]


class Records:
    """Records per line that only answer `in` and `[]`, as sample_lines reads them."""

    def __init__(self, records):
        self.records = records

    def __contains__(self, key):
        return key in self.records

    def __getitem__(self, key):
        return self.records[key]


def test_export_lines_reads_records_per_line_as_sample_lines_does(tmp_path):
    lines = {"a": [pulse(plateau=50e-9)], "b": [pulse(plateau=20e-9)]}
    records = Records({"a": dict(RECORD, N=399), "b": dict(RECORD, N=300)})
    manifest = export.export_lines(lines, records, export.GENERIC_16, tmp_path / "out")
    assert [line["samples"] for line in manifest["lines"]] == [399, 300]


def test_export_lines_refuses_clipping_and_writes_nothing(tmp_path):
    lines = {"ok": [pulse()], "loud": [pulse(plateau=50e-9), pulse(pos=120e-9, plateau=50e-9, amp=1.3)]}
    _, w, _ = wavespec_handling.pdc2pulse(lines["loud"], RECORD)
    over_i, over_q = int((np.abs(w.real) > 1).sum()), int((np.abs(w.imag) > 1).sum())
    with pytest.raises(ValueError) as e:
        export.export_lines(lines, RECORD, export.GENERIC_16, tmp_path / "out")
    assert "clip='saturate'" in str(e.value)
    excess = np.abs(w.real).max() - 1
    assert (f"line 'loud': {over_i + over_q} values beyond full scale, up to {excess:.4g} of full scale over it; "
            "from entry #1 (pulse, shape 'square', pos 1.2e-07 s)") in str(e.value)
    assert not (tmp_path / "out").exists()
    manifest = export.export_lines(lines, RECORD, export.GENERIC_16, tmp_path / "out", clip="saturate")
    assert manifest["lines"][1]["clipping"]["clipped"] == {"I": over_i, "Q": over_q}
    assert np.load(tmp_path / "out" / "loud.npy").max() == 32767


@pytest.mark.parametrize("lines, kw, error, text", [
    ({"a": [pulse(amp=NAN)]}, {"clip": "saturate"}, ValueError, "NaN or infinite values"),
    ({"a": [pulse()]}, {"profile": export.InstrumentProfile("slow", max_rate=1e9)}, ValueError,
     "line 'a' is sampled at 2e\\+09 samples/s, above the profile's max_rate 1e\\+09"),
    ({"a/b": [pulse()]}, {}, ValueError, "line name 'a/b' cannot name a file"),
    ({"a": [pulse()]}, {"format": "wav", "profile": export.GENERIC_14_OFFSET}, ValueError, ".wav holds 8-bit"),
    ({"a": [pulse()]}, {"profile": "16-bit"}, TypeError, "profile must be an InstrumentProfile, not str"),
    ({"a": [pulse()]}, {"clip": "wrap"}, ValueError, "clip must be one of 'refuse', 'saturate', not 'wrap'"),
    ({"a": [{"pos": 0}]}, {}, KeyError, "width"),
])
def test_export_lines_checks_before_it_writes(tmp_path, lines, kw, error, text):
    profile = kw.pop("profile", export.GENERIC_16)
    with pytest.raises(error, match=text) as e:
        export.export_lines(lines, RECORD, profile, tmp_path / "out", **kw)
    assert not (tmp_path / "out").exists()
    if "format" in kw:
        assert e.value.__notes__ == ["while exporting line 'a'"]


@pytest.mark.parametrize("kw, error, text", [
    ({"bits": 40}, ValueError, "bits must be from 2 to 32, not 40"),
    ({"coding": "gray"}, ValueError, "coding must be one of"),
    ({"quantum": 0}, ValueError, "quantum must be at least 1, not 0"),
    ({"full_scale": -1}, ValueError, "full_scale must be a positive finite number"),
    ({"max_rate": "fast"}, TypeError, "max_rate must be a real number, not str"),
])
def test_profiles_are_checked_when_made(kw, error, text):
    with pytest.raises(error, match=text):
        export.InstrumentProfile("x", **kw)


def test_reports_and_profiles_pickle():
    _, report = export.quantize([1.5, NAN])
    clip = export.clip_report({"a": [pulse(amp=2)]}, RECORD)["a"]
    for obj in (report, clip, export.GENERIC_16, export.quantize, export.clip_report):
        assert pickle.loads(pickle.dumps(obj)) == obj


def test_check_pulses_names_the_entry_to_turn_down():
    from halvane import check

    lines = {"c01_z": [pulse(pos=10e-9, plateau=20e-9, amp=0.3, freq=0), dict(FLUX_STEP)]}
    assert check.check_pulses(lines, FLUX_RECORD) == []
    (finding,) = check.check_pulses(lines, FLUX_RECORD, full_scale=1.0)
    clip = export.clip_report(lines, FLUX_RECORD, true_peak=True)["c01_z"]
    assert finding.where == "line 'c01_z' entry #1"
    assert finding.message == (f"drives the line up to {clip.excess:.4g} of full scale over it ({clip.clipped} "
                               f"values beyond it, a true peak of {clip.peak:.4g}): turn it down")
    assert check.check_pulses(lines, FLUX_RECORD, full_scale=1.2) == []

    def broken(X, pd, cp):
        raise RuntimeError("no shape today")

    (finding,) = check.check_pulses([pulse(shape=broken)], RECORD, full_scale=1.0)
    assert (finding.where, finding.message) == (
        "sampling", "could not sample the lines to check full scale (RuntimeError: no shape today)")


def test_export_lines_refuses_two_lines_that_name_one_file(tmp_path):
    # 1 and '1' are two lines; both would be written to 1.npy, the second over the first.
    with pytest.raises(ValueError, match="^lines 1 and '1' would both be written to 1.npy") as e:
        export.export_lines({1: [pulse()], "1": [pulse(amp=0.1)]}, RECORD, export.GENERIC_16, tmp_path / "out")
    assert e.value.__notes__ == ["while exporting line '1'"]
    assert not (tmp_path / "out").exists()


def test_a_profile_of_numpy_numbers_exports_plain_numbers(tmp_path):
    profile = export.InstrumentProfile("np", bits=np.int64(12), full_scale=np.float32(1), quantum=np.int32(8),
                                       min_length=np.uint8(16), max_rate=np.float64(4e9))
    assert [type(v) for v in dataclasses.astuple(profile)] == [str, int, float, str, int, int, float]
    manifest = export.export_lines({"a": [pulse()]}, RECORD, profile, tmp_path / "out")
    assert json.loads((tmp_path / "out" / "manifest.json").read_text()) == manifest


@pytest.mark.parametrize("oversample", [2, 3, 8])
def test_a_constant_line_peaks_at_its_level(oversample):
    # The band-limited signal through equal samples is that constant: a line
    # resting at full scale is not beyond it.
    assert export.true_peak(np.full(100, 0.999), oversample=oversample) == pytest.approx(0.999, rel=1e-12)
    record = {"N": 200, "srate": SRATE, "offset_global": 1.0}
    assert export.clip_report({"z": []}, record, true_peak=True, oversample=oversample) == {}


@pytest.mark.parametrize("name", ["e.npy", "e.csv", "e.wav"])
def test_no_samples_write_an_empty_file_of_their_channels(tmp_path, name):
    codes, _ = export.quantize(np.zeros(0, complex))              # shape (0, 2): I and Q, no samples
    export.write(tmp_path / name, codes, rate=1e9)
    if name.endswith(".wav"):
        with wave.open(str(tmp_path / name), "rb") as f:
            assert (f.getnchannels(), f.getnframes()) == (2, 0)
    elif name.endswith(".csv"):
        assert (tmp_path / name).read_text().splitlines() == ["# rate 1000000000.0 Hz", "# I,Q"]
    else:
        assert np.load(tmp_path / name).shape == (0, 2)


@pytest.mark.parametrize("flag", ["no", 0, 1.0])
def test_dequantize_takes_complex_codes_as_a_bool_only(flag):
    # A truthy 'no' would join the pair (1, 2) into one complex sample.
    with pytest.raises(TypeError, match="^complex_codes must be a bool or None, not"):
        export.dequantize(np.array([1, 2]), complex_codes=flag)


def test_export_lines_leaves_nothing_when_a_later_file_cannot_be_written(tmp_path):
    (tmp_path / "out" / "b.npy").mkdir(parents=True)              # a folder where line b's file goes
    with pytest.raises(IsADirectoryError):
        export.export_lines({"a": [pulse()], "b": [pulse()]}, RECORD, export.GENERIC_16, tmp_path / "out")
    assert [p.name for p in (tmp_path / "out").iterdir()] == ["b.npy"]


def test_a_missing_folder_is_named_not_the_temporary_file(tmp_path):
    with pytest.raises(FileNotFoundError, match="no such folder") as e:
        export.write(tmp_path / "nowhere" / "w.npy", [1], rate=1e9)
    assert e.value.filename == str(tmp_path / "nowhere") and ".tmp" not in str(e.value)


@pytest.mark.parametrize("far", [
    pulse(pos=1e10, amp=0.1),                                       # sample 2e19: beyond an int64
    pulse(pos=-1e10, amp=0.1),
    {"edge_shape": "sine_edge", "pos": 1e10, "width": 4e-9, "plateau": 0, "amp": 0.1},
])
def test_far_entries_do_not_stop_the_trace_to_the_loud_one(far):
    (clip,) = export.clip_report({"a": [pulse(amp=2), far]}, RECORD).values()
    assert [e.index for e in clip.entries] == [0]


def test_a_pulse_at_full_scale_is_not_beyond_it(tmp_path):
    # The carrier's factors cos(pi/4) * sqrt(2) are 1 + 2.2e-16: a pulse of
    # amp 1 lands on the top code exactly, and nothing saturates.
    _, w, _ = wavespec_handling.pdc2pulse([pulse(amp=1.0)], RECORD)
    assert np.abs(w.real).max() > 1                              # by that rounding only
    assert export.quantize(w)[1].ok and export.clip_report({"a": [pulse(amp=1.0)]}, RECORD) == {}
    export.export_lines({"a": [pulse(amp=1.0)]}, RECORD, export.GENERIC_16, tmp_path)
    assert export.quantize([1 + 1e-12, -1 - 1e-12])[1].clipped == (2,)
