// Replaying a rule's earlier result (HALVANE_NO_REPLAY=1 turns it off).
//
// A circuit applies the same few rules to the same qubit information over
// and over, and a rule whose recipes are native computes the same
// descriptions each time from the same keywords: they depend only on what
// it reads (its tracks, the qubit information, the templates and
// calibration dicts, the recipes' class keywords) and involve no code but
// this package's. While none of that has changed, semi_apply may hand out
// new copies of the descriptions it made before instead of making them
// again.
//
// A dict is known unchanged by its address and stamp together (a stamp
// moves with each modification; see py/compat.hpp), lists and recipes by
// their contents, and the walk that checks them starts from the arguments.
// A record holds every object it names by address, so that none of them can
// die and leave its address to another while the record exists. Every value
// that arithmetic might touch must be a plain number, str, bool or
// None; anything else (a numpy array or scalar, a callable, a user's type)
// leaves the rule to do its work every time.
#pragma once
#include <memory>
#include "py/errors.hpp"

namespace halvane::rule {
namespace nb = nanobind;

/// Offer instances of exactly `rule_type` (RULE itself) for replays, unless
/// the environment turns them off; `m._replaying()` says which.
void init_replay(nb::module_ &m, nb::handle rule_type);

struct Record;

/// One call of self.semi_apply(its_qubit_info, **kwds): its earlier result
/// when that may be handed out again, else what the call reads, taken
/// before it is made, so that its result can be kept.
class Recording {
 public:
  /// `kwds` is the call's own exact dict of keywords.
  Recording(nb::handle self, nb::handle its_qubit_info, nb::handle kwds);
  ~Recording();
  Recording(const Recording &) = delete;
  Recording &operator=(const Recording &) = delete;

  /// New copies of the earlier result, or an empty object.
  nb::object replayed() { return std::move(replayed_); }

  /// Keep `result`, which the call has just returned, when it may be replayed.
  void keep(nb::handle result);

 private:
  nb::object replayed_;
  std::unique_ptr<Record> rec_;
  nb::handle kwds_;  ///< alive until the call returns
};

}  // namespace halvane::rule
