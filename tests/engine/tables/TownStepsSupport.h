// Random steps on the "Towns" table for the crash tests: a step is one append, change or
// delete (with notes of random length), or a transaction of a few of them; the steps are
// drawn from a seed, so a test replays them on a model and knows the state after each.
// Test thread only.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "WriteTestSupport.h"

namespace vdb::test {

struct TModelTown {
  std::u16string Name;
  std::int64_t Code;
  std::string Note;
  friend bool operator==(const TModelTown&, const TModelTown&) = default;
};

inline void PrintTo(const TModelTown& t, std::ostream* os) {
  *os << "{" << VdbUtf16ToUtf8(t.Name) << ", " << t.Code << ", " << t.Note.size() << " note bytes}";
}

enum class TStepOpKind { okAppend, okReplace, okDelete };
struct TStepOp {
  TStepOpKind Kind;
  std::int32_t RecNo;  // 1-based, replace and delete
  TModelTown Town;     // append and replace
};
struct TStep {
  bool InTransaction = false;
  std::vector<TStepOp> Ops;
};

inline std::vector<TModelTown> InitialTowns(int count) {
  std::vector<TModelTown> model;
  for (int i = 1; i <= count; ++i) {
    model.push_back({u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i, i % 2 ? "note " + std::to_string(i) : ""});
  }
  return model;
}

// Step `k` (from 1) of the run drawn from `seed`, applied to `model`. `transactions`: the
// share of steps (0..10 in tenths) that are transactions of one to three operations.
inline TStep DrawStep(std::uint32_t seed, std::int32_t k, std::vector<TModelTown>& model, int transactions) {
  std::mt19937 rng(seed * 1000003u + static_cast<std::uint32_t>(k));
  TStep step;
  step.InTransaction = static_cast<int>(rng() % 10) < transactions;
  const int n = step.InTransaction ? 1 + static_cast<int>(rng() % 3) : 1;
  for (int i = 0; i < n; ++i) {
    const auto count = static_cast<std::int32_t>(model.size());
    const std::uint32_t roll = rng() % 10;
    const std::int64_t code = 1000000 + static_cast<std::int64_t>(k) * 10 + i;
    std::string note(rng() % 3 == 0 ? 0 : 1 + rng() % 700, static_cast<char>('a' + k % 26));
    const std::u16string name = u"K" + VdbUtf8ToUtf16(std::to_string(k)) + u"_" + VdbUtf8ToUtf16(std::to_string(i));
    if (count < 3 || roll < 4) {
      TStepOp op{TStepOpKind::okAppend, 0, {name, code, note}};
      model.push_back(op.Town);
      step.Ops.push_back(op);
    } else if (roll < 7) {
      const std::int32_t recNo = 1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
      TStepOp op{TStepOpKind::okReplace, recNo, {name, code, note}};
      model[static_cast<std::size_t>(recNo - 1)] = op.Town;
      step.Ops.push_back(op);
    } else {
      const std::int32_t recNo = 1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
      step.Ops.push_back(TStepOp{TStepOpKind::okDelete, recNo, {}});
      model[static_cast<std::size_t>(recNo - 1)] = model.back();
      model.pop_back();
    }
  }
  return step;
}

inline std::vector<TModelTown> ModelAfterSteps(std::uint32_t seed, std::int32_t steps, int initial, int transactions) {
  std::vector<TModelTown> model = InitialTowns(initial);
  for (std::int32_t k = 1; k <= steps; ++k) DrawStep(seed, k, model, transactions);
  return model;
}

inline std::vector<TModelTown> ModelState(TVdbBaseTable& t) {
  std::vector<TModelTown> state;
  for (const TTown& town : TownsState(t)) state.push_back({town.Name, town.Code, town.Note});
  return state;
}

// One operation on `t`; its status.
inline std::int32_t ApplyStepOp(TVdbBaseTable& t, const TStepOp& op) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
  switch (op.Kind) {
    case TStepOpKind::okAppend:
      return AppendTown(t, op.Town.Name, op.Town.Code, op.Town.Note);
    case TStepOpKind::okReplace: {
      if (const std::int16_t r = t.ReadRecord(op.RecNo, record); r < 0) return r;
      std::vector<std::uint8_t> changed = record;
      SetText(t, changed, tcName, op.Town.Name);
      SetInt(t, changed, tcCode, op.Town.Code);
      return t.ReplaceRecord(changed, record, NoteBlob(op.Town.Note), op.RecNo);
    }
    case TStepOpKind::okDelete:
      if (const std::int16_t r = t.ReadRecord(op.RecNo, record); r < 0) return r;
      return t.DeleteRecord(record, op.RecNo);
  }
  return -1;
}

// A whole step on `t` in the environment `env`; its status (a failed transaction is rolled
// back).
inline std::int32_t ApplyStep(TVdbBaseTable& t, TVdbTableEnvironment& env, const TStep& step) {
  if (!step.InTransaction) return ApplyStepOp(t, step.Ops.front());
  env.IsolationLevel = tilReadCommited;
  std::int32_t r = 0;
  for (const TStepOp& op : step.Ops) {
    r = ApplyStepOp(t, op);
    if (r < 0) break;
  }
  env.IsolationLevel = tilNone;
  if (r < 0) {
    static_cast<void>(t.UndoModifications());
    return r;
  }
  return t.CommitModifications();
}

}  // namespace vdb::test
