// halvane.wavespec_handling: sample_lines, many lines in one call, and the
// in-place entry that WaveSpec.sample(out=...) uses.
//
// Every line is parsed under the GIL, in the order of `lines`, exactly as
// pdc2pulse parses it, and renders on native threads with the GIL released
// (render_pool.hpp): into fresh arrays as soon as it has parsed, into the
// caller's buffers once all have. When a collaborator of the driver has
// been rebound, the lines from then on go one by one through pdc2pulse as
// the interpreter would call it, and their samples are copied into the
// caller's buffers last. So every buffer is checked (shared memory
// included) before any is written, and a call that raises returns no array
// and changes no buffer (only a signal that stops the rendering leaves
// buffers partly written); no thread outlives it.
#include <algorithm>
#include <thread>
#include <vector>
#ifdef __linux__
#include <sched.h>
#endif
#include "modules/wavespec_handling/collaborators.hpp"
#include "modules/wavespec_handling/driver.hpp"
#include "modules/wavespec_handling/render_pool.hpp"
#include "py/args.hpp"
#include "py/mapping.hpp"
#include "py/out_arrays.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;
namespace hk = halvane::kernels;

namespace {

/// The CPUs this process may run on.
std::size_t usable_cpus() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<std::size_t>(CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

/// Run `body` with a note naming the line on any Python error it raises.
template <typename F>
auto for_line(nb::handle name, F &&body) -> decltype(body()) {
  try {
    return body();
  } catch (nb::python_error &e) {
    hp::add_note(e, [&] { return nb::str("while sampling line {!r}").format(name); });
    throw;
  }
}

/// True when li maps every line name to a record of its own: it has no
/// key 'N' and has every name. Anything else is one record for all lines.
bool records_per_line(nb::handle li, nb::handle names) {
  auto has = [&](nb::handle key) {
    int r = PySequence_Contains(li.ptr(), key.ptr());
    if (r < 0) PyErr_Clear();  // not a container: one record, whose reads raise as pdc2pulse's do
    return r == 1;
  };
  if (has(HV_KEY("N"))) return false;
  for (nb::handle name : names)
    if (!has(name)) return false;
  return true;
}

/// A line sampled by the current pdc2pulse, as the interpreter calls it.
/// With buffers of the caller's, its W and S are kept as complex128 arrays
/// of the buffers' length, to be copied in once every line is ready.
struct Through {
  nb::object result;
  std::optional<std::pair<nb::object, nb::object>> buffers;
  nb::object X, W, S;
  hp::ArrayView w{}, s{};
};

Through through_pdc2pulse(nb::handle name, nb::handle pds, nb::handle record, nb::handle out) {
  return for_line(name, [&] {
    Through t;
    nb::object f = names.current(PDC2PULSE);
    t.result = f(pds, record);
    t.buffers = hp::out_pair(out, name);
    if (!t.buffers) return t;
    nb::object got = hp::steal_or_throw(PySequence_Tuple(t.result.ptr()));
    if (PyTuple_GET_SIZE(got.ptr()) != 3)
      hp::raise(PyExc_ValueError, "pdc2pulse must give three arrays (X, W, S)");
    t.X = nb::borrow(PyTuple_GET_ITEM(got.ptr(), 0));
    Py_ssize_t n = PyObject_Length(PyTuple_GET_ITEM(got.ptr(), 1));
    if (n < 0) hp::rethrow();
    hp::check_out_pair(t.buffers->first, t.buffers->second, n, name);
    nb::object asarray = hp::numpy().attr("ascontiguousarray"), c128 = hp::numpy().attr("complex128");
    t.W = asarray(nb::handle(PyTuple_GET_ITEM(got.ptr(), 1)), c128);
    t.S = asarray(nb::handle(PyTuple_GET_ITEM(got.ptr(), 2)), c128);
    auto w = hp::view(t.W), s = hp::view(t.S);
    if (!w || !s || w->size != n || s->size != n || w->stride != 1 || s->stride != 1) {
      PyErr_Format(PyExc_ValueError, "pdc2pulse must give W and S of %zd samples each", n);
      hp::rethrow();
    }
    t.w = *w;
    t.s = *s;
    return t;
  });
}

/// ValueError when the caller's buffers of two lines (or W and S of one)
/// share memory: the lines are written at the same time. `buffers` are the
/// (W, S) pairs of the lines, with their line numbers in `names`.
void check_no_overlap(const std::vector<std::pair<const hk::Line *, std::size_t>> &buffers, nb::handle names) {
  std::vector<hp::OutSpan> spans;
  for (auto [l, j] : buffers) {
    const std::size_t bytes = l->n * sizeof(kernels::cdouble);
    for (const kernels::cdouble *p : {l->W, l->S})
      if (p && bytes) spans.push_back({reinterpret_cast<const char *>(p), reinterpret_cast<const char *>(p) + bytes, j});
  }
  hp::check_disjoint(std::move(spans), names);
}

std::size_t thread_count(nb::handle threads) {
  if (threads.is_none()) return usable_cpus();
  nb::object t = hp::steal_or_throw(PyNumber_Index(threads.ptr()));
  if (PyObject_RichCompareBool(t.ptr(), nb::int_(1).ptr(), Py_LT) == 1) {
    PyErr_Format(PyExc_ValueError, "threads must be at least 1, not %S", t.ptr());
    hp::rethrow();
  }
  const std::size_t n = PyLong_AsSize_t(t.ptr());
  if (PyErr_Occurred()) {  // more than a size_t holds: as many as there are lines
    PyErr_Clear();
    return SIZE_MAX;
  }
  return n;
}

nb::object sample_lines(nb::handle lines, nb::handle li, nb::handle threads, nb::handle out) {
  const std::size_t nthreads = thread_count(threads);
  if (!out.is_none()) hp::check_out_mapping(out);
  if (!PyObject_HasAttrString(lines.ptr(), "items")) {
    PyErr_Format(PyExc_TypeError, "lines must be a mapping from line name to pulse descriptions, not %s",
                 Py_TYPE(lines.ptr())->tp_name);
    hp::rethrow();
  }
  nb::object items = hp::steal_or_throw(PySequence_List(lines.attr("items")().ptr()));
  nb::list names;
  for (nb::handle item : items) names.append(hp::getitem(item, nb::int_(0)));
  const bool per_line = records_per_line(li, names);
  auto record = [&](nb::handle name) { return per_line ? hp::getitem(li, name) : nb::borrow(li); };

  nb::dict result;
  std::vector<std::unique_ptr<LineJob>> jobs;
  Py_ssize_t k = 0;
  const Py_ssize_t count = PyList_GET_SIZE(items.ptr());
  // Lines into fresh arrays render while the next ones parse; into the
  // caller's buffers, only once every line has parsed and no two share
  // memory, so that a call that raises leaves the buffers as they were.
  // Declared after the jobs, the pool stops and joins before they go.
  hp::SignalWatch watch;
  RenderPool pool(std::min(nthreads, static_cast<std::size_t>(count)), watch);
  const bool early = out.is_none();
  // While the driver is as loaded, parse every line now and render them together.
  for (; k < count && driver_unchanged(); ++k) {
    nb::handle item = PyList_GET_ITEM(items.ptr(), k);
    nb::object name = hp::getitem(item, nb::int_(0)), pds = hp::getitem(item, nb::int_(1));
    jobs.push_back(for_line(name, [&] {
      nb::object rec = record(name);
      auto buffers = hp::out_pair(out, name);
      if (!buffers) return prepare_line(pds, rec);
      nb::object W = buffers->first, S = buffers->second;
      return prepare_line(pds, rec, OutBuffers{W, S, [&](Py_ssize_t n) { hp::check_out_pair(W, S, n, name); }});
    }));
    if (early) pool.add(*jobs.back());
  }
  auto finish_jobs = [&] {
    pool.finish();
    for (std::size_t j = 0; j < jobs.size(); ++j) {
      nb::handle name = PyList_GET_ITEM(names.ptr(), static_cast<Py_ssize_t>(j));
      result[name] = for_line(name, [&] { return finish_line(*jobs[j]); });
      jobs[j].reset();
    }
  };
  if (early) finish_jobs();
  // A collaborator rebound before (or while) parsing: the rest one by one.
  std::vector<Through> through;
  for (; k < count; ++k) {
    nb::handle item = PyList_GET_ITEM(items.ptr(), k);
    nb::object name = hp::getitem(item, nb::int_(0)), pds = hp::getitem(item, nb::int_(1));
    through.push_back(through_pdc2pulse(name, pds, record(name), out));
  }
  if (!early) {
    // Every line is ready: the caller's buffers are written only now.
    std::vector<hk::Line> copies;
    copies.reserve(through.size());
    std::vector<std::pair<const hk::Line *, std::size_t>> buffers;
    for (std::size_t j = 0; j < jobs.size(); ++j) buffers.emplace_back(&jobs[j]->line, j);
    for (std::size_t j = 0; j < through.size(); ++j) {
      if (!through[j].buffers) continue;
      hk::Line &c = copies.emplace_back();
      c.n = static_cast<std::size_t>(through[j].w.size);
      c.W = hp::own_view(through[j].buffers->first).cplx();
      c.S = hp::own_view(through[j].buffers->second).cplx();
      buffers.emplace_back(&c, jobs.size() + j);
    }
    check_no_overlap(buffers, names);
    for (auto &job : jobs) pool.add(*job);
    finish_jobs();
    for (std::size_t j = 0, c = 0; j < through.size(); ++j) {
      if (!through[j].buffers) continue;
      std::copy_n(through[j].w.cplx(), copies[c].n, copies[c].W);
      std::copy_n(through[j].s.cplx(), copies[c].n, copies[c].S);
      ++c;
      through[j].result = nb::make_tuple(through[j].X, through[j].buffers->first, through[j].buffers->second);
    }
  }
  for (std::size_t j = 0; j < through.size(); ++j)
    result[nb::handle(PyList_GET_ITEM(names.ptr(), static_cast<Py_ssize_t>(jobs.size() + j)))] = through[j].result;
  return result;
}

/// pdc2pulse writing W into `out` (checked first) and keeping no S.
nb::object pdc2pulse_into(nb::handle pds, nb::handle li, nb::handle out) {
  std::unique_ptr<LineJob> job =
      prepare_line(pds, li, OutBuffers{out, nb::none(), [&](Py_ssize_t n) { hp::out_array(out, n, HV_KEY("out")); }});
  job->line.grid_kept = job->python_fix;  // X goes to the Python filter, or nowhere
  hp::SignalWatch watch;
  {
    nb::gil_scoped_release nogil;
    render_line(*job, [&] { return watch.poll(); });
  }
  watch.raise_if_stopped();
  finish_line(*job);
  return nb::borrow(out);
}

}  // namespace

bool driver_unchanged() {
  if (names.hold()) return true;
  for (std::size_t i : {RNG, GRAD, CARRIER, CAL_IIR_COEF, FIX, SHAPE_TABLE, PDC2PULSE})
    if (!names.original(i)) return false;
  return true;
}

void export_lines(nb::module_ &m) {
  m.def("sample_lines", &sample_lines, hp::arg("lines"), hp::arg("li"), nb::kw_only(),
        hp::arg("threads") = nb::none(), hp::arg("out") = nb::none(),
        nb::sig("def sample_lines(lines: typing.Mapping[typing.Any, typing.Iterable[dict]], li: typing.Mapping, "
                "*, threads: int | None = None, out: typing.Mapping | None = None) "
                "-> dict[typing.Any, tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]]"),
        "Sample many control lines at once, on native threads.\n\n"
        "Each line gives exactly what ``pdc2pulse(lines[name], record)`` gives.\n"
        "The lines are read under the GIL, in order, with pdc2pulse's reads\n"
        "and errors (an error carries a note naming its line, and the call then\n"
        "returns no array and changes no ``out`` buffer), and rendered with the\n"
        "GIL released: each into new arrays as soon as it is read, into ``out``\n"
        "buffers once every line is read. When a collaborator of the driver (``rng``, ``grad``,\n"
        "``carrier``, ``cal_iir_coef``, ``fix``, ``shapeTable`` or ``pdc2pulse``\n"
        "itself) has been rebound, the lines go one by one through\n"
        "``pdc2pulse`` instead.\n\n"
        "Parameters\n----------\n"
        "lines : mapping\n    Line name to pulse descriptions, as ``circuit.collect_pdc`` gives.\n"
        "li : mapping\n"
        "    One sampling record for every line, or a mapping from each line name\n"
        "    to its own record (a mapping without the key ``N`` that has every\n"
        "    line name).\n"
        "threads : int, optional\n"
        "    How many threads render (the calling one included); default: the\n"
        "    CPUs this process may use. Below 1 raises ValueError.\n"
        "out : mapping, optional\n"
        "    Line name to a pair ``(W, S)`` of writeable, contiguous complex128\n"
        "    arrays of the line's length, written in place of new arrays. A call\n"
        "    that raises leaves them untouched, except when a signal's handler\n"
        "    raises (Ctrl-C): rendering then stops, leaving partial samples.\n\n"
        "Returns\n-------\ndict\n"
        "    Line name to ``(X, W, S)``, in the order of ``lines``.");
  m.def("_pdc2pulse_into", &pdc2pulse_into, hp::arg("pds"), hp::arg("li"), hp::arg("out"),
        nb::sig("def _pdc2pulse_into(pds: typing.Iterable[dict], li: typing.Mapping, out: numpy.ndarray) "
                "-> numpy.ndarray"),
        "``pdc2pulse(pds, li)[1]`` written into ``out``, which it returns; no S is kept.\n\n"
        "For ``WaveSpec.sample(out=...)``; ``out`` must be a writeable, contiguous\n"
        "complex128 array of ``li['N']`` samples.");
}

}  // namespace halvane::wavespec_handling
