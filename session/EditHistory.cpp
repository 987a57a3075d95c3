#include "session/EditHistory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace session {

bool VolumeDelta::Between(const CVoxel* before, const CVoxel* after, const C3DPoint& size,
                          VolumeDelta& delta) {
  delta = VolumeDelta();
  if (size.x < 0 || size.y < 0 || size.z < 0) return false;
  if ((before && before->Size() != size) || (after && after->Size() != size)) return false;
  const std::size_t count =
      static_cast<std::size_t>(size.x) * static_cast<std::size_t>(size.y) * static_cast<std::size_t>(size.z);
  const CVoxel::value_type* a = before ? before->Data() : nullptr;
  const CVoxel::value_type* b = after ? after->Data() : nullptr;
  if ((before && !a) || (after && !b)) return false;
  // The exclusive-or of the two volumes, one run per stretch of equal values.
  constexpr std::size_t kLongestRun = std::numeric_limits<std::uint32_t>::max();
  std::int16_t value = 0;
  std::size_t length = 0, runStart = 0;
  const auto endRun = [&] {
    delta.m_runLengths.push_back(static_cast<std::uint32_t>(length));
    delta.m_values.push_back(value);
    if (value != 0) {
      delta.m_changed += length;
      delta.m_span.Include({runStart, runStart + length});
    }
    runStart += length;
  };
  // An edit changes a small part of a volume: blocks where both volumes agree
  // (compared a block at a time, which the C library does many voxels per
  // step) extend the current run of zeros without looking at each voxel.
  constexpr std::size_t kBlock = 512;
  static constexpr CVoxel::value_type kZeros[kBlock] = {};
  for (std::size_t start = 0; start < count; start += kBlock) {
    const std::size_t n = std::min(kBlock, count - start);
    const CVoxel::value_type* x = a ? a + start : kZeros;
    const CVoxel::value_type* y = b ? b + start : kZeros;
    const bool same = std::memcmp(x, y, n * sizeof(CVoxel::value_type)) == 0;
    if (same && (length == 0 || value == 0) && length + n <= kLongestRun) {
      value = 0;
      length += n;
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) {
      const auto v = static_cast<std::int16_t>(x[k] ^ y[k]);
      if (length > 0 && v == value && length < kLongestRun) {
        ++length;
        continue;
      }
      if (length > 0) endRun();
      value = v;
      length = 1;
    }
  }
  if (length > 0) endRun();
  if (delta.m_changed == 0) {
    delta = VolumeDelta();
  } else {
    delta.m_runLengths.shrink_to_fit();
    delta.m_values.shrink_to_fit();
  }
  return true;
}

std::size_t VolumeDelta::Bytes() const {
  return m_runLengths.capacity() * sizeof(std::uint32_t) + m_values.capacity() * sizeof(std::int16_t);
}

void VolumeDelta::ApplyTo(CVoxel& volume) const {
  CVoxel::value_type* data = volume.Data();
  if (!data) return;
  std::size_t position = 0;
  for (std::size_t r = 0; r < m_runLengths.size(); ++r) {
    const std::size_t end = std::min(position + m_runLengths[r], volume.VoxelCount());
    if (const std::int16_t value = m_values[r]; value != 0) {
      for (std::size_t k = position; k < end; ++k) data[k] = static_cast<CVoxel::value_type>(data[k] ^ value);
    }
    position = end;
  }
}

EditHistory::EditHistory(std::vector<Slot*> slots, std::size_t budgetBytes)
    : m_slots(std::move(slots)),
      m_budget(budgetBytes),
      m_spare(m_slots.size()),
      m_changes(m_slots.size(), VoxelSpan::All()) {}

VoxelSpan EditHistory::TakeChanges(std::size_t slot) {
  if (slot >= m_changes.size()) return VoxelSpan::All();
  return std::exchange(m_changes[slot], VoxelSpan());
}

void EditHistory::NoteChange(const Change& change) {
  m_changes[change.slot].Include(change.presentBefore != change.presentAfter ? VoxelSpan::All()
                                                                             : change.delta.ChangedSpan());
}

void EditHistory::NoteEverythingChanged() {
  for (VoxelSpan& span : m_changes) span = VoxelSpan::All();
}

void EditHistory::Clear() {
  m_steps.clear();
  m_cursor = 0;
  m_bytes = 0;
  m_before.clear();
  m_open = false;
  // Whoever clears the history may have replaced the volumes as well.
  NoteEverythingChanged();
  // A new case may have volumes of another size: the spares go too.
  for (auto& spare : m_spare) spare.reset();
}

void EditHistory::Begin(unsigned slotMask) {
  if (m_open) Commit();
  m_before.clear();
  for (std::size_t s = 0; s < m_slots.size(); ++s) {
    if (!(slotMask & (1u << s))) continue;
    const Slot& slot = *m_slots[s];
    if (!slot || !slot->HasData()) {
      m_before.push_back({s, nullptr});
      continue;
    }
    // The copy goes into the spare of the last edit when it fits: a large
    // volume is then copied without fresh memory being mapped at every press.
    std::unique_ptr<CVoxel> copy = std::move(m_spare[s]);
    if (copy && copy->SameSize(*slot) && copy->HasData()) {
      std::copy(slot->Data(), slot->Data() + slot->VoxelCount(), copy->Data());
    } else {
      copy = slot->Clone();
    }
    m_before.push_back({s, std::move(copy)});
  }
  m_open = true;
}

void EditHistory::Abandon() {
  for (Snapshot& snapshot : m_before) {
    if (snapshot.volume) m_spare[snapshot.slot] = std::move(snapshot.volume);
  }
  m_before.clear();
  m_open = false;
}

bool EditHistory::Commit() {
  if (!m_open) return false;
  std::vector<Earlier> before;
  for (const Snapshot& snapshot : m_before) before.push_back({snapshot.slot, snapshot.volume.get()});
  m_open = false;
  const bool stored = Record(before);
  Abandon();
  return stored;
}

bool EditHistory::Record(const std::vector<Earlier>& before) {
  const auto present = [](const CVoxel* volume) { return volume && volume->HasData() ? volume : nullptr; };
  // Every volume of the step has the size of the first one present.
  const CVoxel* sized = nullptr;
  for (const Earlier& earlier : before) {
    if (!sized) sized = present(earlier.volume) ? earlier.volume : present(m_slots[earlier.slot]->get());
  }
  if (!sized) return false;

  Step step;
  step.size = sized->Size();
  for (const Earlier& earlier : before) {
    const CVoxel* was = present(earlier.volume);
    const CVoxel* now = present(m_slots[earlier.slot]->get());
    Change change;
    change.slot = earlier.slot;
    change.presentBefore = was != nullptr;
    change.presentAfter = now != nullptr;
    if (!VolumeDelta::Between(was, now, step.size, change.delta)) {
      // A volume changed its size: the steps before cannot be replayed on it.
      Clear();
      return false;
    }
    if (change.delta.Empty() && change.presentBefore == change.presentAfter) continue;
    // The slot has changed whether or not the step can be kept.
    NoteChange(change);
    step.bytes += change.delta.Bytes();
    step.changes.push_back(std::move(change));
  }
  if (step.changes.empty()) return false;

  // A new edit: what was undone can no longer be redone.
  for (std::size_t i = m_cursor; i < m_steps.size(); ++i) m_bytes -= m_steps[i].bytes;
  m_steps.erase(m_steps.begin() + static_cast<std::ptrdiff_t>(m_cursor), m_steps.end());
  m_bytes += step.bytes;
  m_steps.push_back(std::move(step));
  m_cursor = m_steps.size();
  DropOldestOverBudget();
  return m_cursor > 0;
}

void EditHistory::DropOldestOverBudget() {
  std::size_t drop = 0;
  while (drop < m_steps.size() && m_bytes > m_budget) m_bytes -= m_steps[drop++].bytes;
  m_steps.erase(m_steps.begin(), m_steps.begin() + static_cast<std::ptrdiff_t>(drop));
  m_cursor -= std::min(m_cursor, drop);
}

bool EditHistory::Fits(const Step& step) const {
  for (const Change& change : step.changes) {
    const Slot& slot = *m_slots[change.slot];
    if (slot && slot->HasData() && slot->Size() != step.size) return false;
  }
  return true;
}

void EditHistory::Apply(const Step& step, bool forward) {
  for (const Change& change : step.changes) {
    Slot& slot = *m_slots[change.slot];
    if (!slot || !slot->HasData())
      slot = std::make_unique<CVoxel>(step.size.x, step.size.y, step.size.z, true);
    change.delta.ApplyTo(*slot);
    if (!(forward ? change.presentAfter : change.presentBefore)) slot.reset();
    NoteChange(change);
  }
}

bool EditHistory::Undo() {
  if (m_open || !CanUndo()) return false;
  if (!Fits(m_steps[m_cursor - 1])) {
    Clear();
    return false;
  }
  Apply(m_steps[--m_cursor], false);
  return true;
}

bool EditHistory::Redo() {
  if (m_open || !CanRedo()) return false;
  if (!Fits(m_steps[m_cursor])) {
    Clear();
    return false;
  }
  Apply(m_steps[m_cursor++], true);
  return true;
}

}  // namespace session
