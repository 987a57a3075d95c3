// The undo/redo history of a case.
//
// The history watches a fixed set of volume slots (the owner's unique_ptrs:
// segmentation, stroke map, accumulated map, the backups). An edit is recorded
// as the difference between the slots before and after it: Begin() copies the
// slots the edit may change, Commit() compares them with what the slots hold
// then and stores one step. Steps keep the differences run-length encoded as
// the exclusive-or of the old and new voxels, so the same step takes a volume
// back (undo) and forward again (redo), and a stroke costs only its runs.
//
// All the volumes of one history have one size. The steps together never hold
// more than the byte budget: the oldest steps go first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "volume/Voxel.h"

namespace session {

// A stretch of voxel indices, [begin, end) (empty when end <= begin); All()
// stands for every voxel of whatever volume it is applied to.
struct VoxelSpan {
  std::size_t begin = 0, end = 0;
  static constexpr VoxelSpan All() { return {0, static_cast<std::size_t>(-1)}; }
  bool Empty() const { return end <= begin; }
  // Widens the span to hold `other` too.
  void Include(const VoxelSpan& other) {
    if (other.Empty()) return;
    *this = Empty() ? other : VoxelSpan{std::min(begin, other.begin), std::max(end, other.end)};
  }
  bool operator==(const VoxelSpan&) const = default;
};

// The run-length-encoded exclusive-or of two volumes of one size. An absent
// volume counts as all zero.
class VolumeDelta {
 public:
  // False (and an empty delta) when a present volume is not of `size`.
  static bool Between(const CVoxel* before, const CVoxel* after, const C3DPoint& size, VolumeDelta& delta);

  bool Empty() const { return m_changed == 0; }
  std::size_t ChangedVoxels() const { return m_changed; }
  // From the first changed voxel to the last.
  VoxelSpan ChangedSpan() const { return m_span; }
  std::size_t Bytes() const;
  // Toggles `volume` between the two states; it must have the delta's size.
  void ApplyTo(CVoxel& volume) const;

 private:
  // Consecutive voxels with the same exclusive-or value form one run.
  std::vector<std::uint32_t> m_runLengths;
  std::vector<std::int16_t> m_values;
  std::size_t m_changed = 0;
  VoxelSpan m_span;
};

class EditHistory {
 public:
  // "Never more than 256 MB": the steps' differences stay within this many bytes.
  static constexpr std::size_t kDefaultBudgetBytes = std::size_t{256} * 1000 * 1000;

  using Slot = std::unique_ptr<CVoxel>;

  // `slots` stay owned by the caller and must outlive the history.
  explicit EditHistory(std::vector<Slot*> slots, std::size_t budgetBytes = kDefaultBudgetBytes);

  // Forgets every step (a new case, a new segmentation, Reset).
  void Clear();

  // Starts an edit that may change the slots whose bits are set in `slotMask`
  // (bit i: slot i). An edit still open is committed first.
  void Begin(unsigned slotMask);
  bool EditOpen() const { return m_open; }
  // Ends the edit: stores its step when anything changed, which drops the steps
  // that could have been redone. Returns whether a step was stored.
  bool Commit();
  // Ends the edit without a step (the edit was refused after all).
  void Abandon();
  // Stores the step of an edit whose owner kept what the slots held before it:
  // `before` pairs a slot with its earlier volume (null: the slot was empty).
  // Saves copying volumes the owner has anyway. Returns whether a step was stored.
  struct Earlier {
    std::size_t slot = 0;
    const CVoxel* volume = nullptr;
  };
  bool Record(const std::vector<Earlier>& before);

  bool CanUndo() const { return m_cursor > 0; }
  bool CanRedo() const { return m_cursor < m_steps.size(); }
  // Takes the slots back to before the last done step / forward over the next
  // undone one. False (nothing changed) when there is none.
  bool Undo();
  bool Redo();

  // The voxels of slot `slot` that edits, undos and redos may have changed
  // since the last call (All() after Clear, and at first), and forgets them:
  // a reader that keeps its own copy of the slot renews only that part.
  VoxelSpan TakeChanges(std::size_t slot);

  std::size_t StepCount() const { return m_steps.size(); }
  std::size_t UndoSteps() const { return m_cursor; }
  std::size_t Bytes() const { return m_bytes; }
  std::size_t BudgetBytes() const { return m_budget; }

 private:
  struct Change {
    std::size_t slot = 0;
    bool presentBefore = false;
    bool presentAfter = false;
    VolumeDelta delta;
  };
  struct Step {
    C3DPoint size;
    std::vector<Change> changes;
    std::size_t bytes = 0;
  };
  struct Snapshot {
    std::size_t slot = 0;
    std::unique_ptr<CVoxel> volume;  // null: the slot was empty
  };

  // Whether every volume the step changes still has the step's size (the
  // owner starts a new history whenever that could change; this is the guard).
  bool Fits(const Step& step) const;
  void Apply(const Step& step, bool forward);
  void DropOldestOverBudget();
  void NoteChange(const Change& change);
  void NoteEverythingChanged();

  std::vector<Slot*> m_slots;
  std::size_t m_budget;
  std::vector<Step> m_steps;
  std::size_t m_cursor = 0;  // steps before the cursor are done, the rest undone
  std::size_t m_bytes = 0;
  bool m_open = false;
  std::vector<Snapshot> m_before;
  // The copies of the last edit, kept to be filled again by the next one.
  std::vector<std::unique_ptr<CVoxel>> m_spare;
  // Per slot: what changed since TakeChanges last asked.
  std::vector<VoxelSpan> m_changes;
};

}  // namespace session
