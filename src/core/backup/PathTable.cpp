#include "core/backup/PathTable.h"

#include <algorithm>
#include <utility>

namespace marrowick {

detail::LargeBlock PathTable::Release() {
    slots_ = nullptr;
    slotCount_ = 0;
    used_ = 0;
    return std::move(memory_);
}

void PathTable::Grow() {
    const std::size_t oldSlots = slotCount_;
    const detail::LargeBlock oldMemory = std::move(memory_);
    const auto* old = static_cast<const Slot*>(oldMemory.Data());
    slotCount_ = std::max<std::size_t>(64, 2 * oldSlots);
    memory_ = detail::LargeBlock(slotCount_ * sizeof(Slot));
    slots_ = static_cast<Slot*>(memory_.Data()); // zero bytes: every slot empty
    const std::size_t mask = slotCount_ - 1;
    for (std::size_t i = 0; i < oldSlots; ++i) {
        const Slot& entry = old[i];
        if (entry.Node != nullptr) {
            std::size_t slot = entry.Hash & mask;
            while (slots_[slot].Node != nullptr) {
                slot = (slot + 1) & mask;
            }
            slots_[slot] = entry;
        }
    }
}

} // namespace marrowick
