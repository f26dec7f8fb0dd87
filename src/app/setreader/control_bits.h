#pragma once
// Check-box rows that stand for the bits of one byte, and list choices taken from an answer.

#include <QCheckBox>
#include <QComboBox>
#include <array>
#include <cstddef>
#include <cstdint>

namespace kelta {

// Bit k set when boxes[k] is checked.
template <std::size_t N> std::uint8_t maskOf(const std::array<QCheckBox*, N>& boxes) {
    std::uint8_t mask = 0;
    for (std::size_t k = 0; k < N; ++k)
        if (boxes[k]->isChecked()) mask = static_cast<std::uint8_t>(mask | 1u << k);
    return mask;
}

// Unchecks every box, then checks boxes[k] for each bit k of the mask.
template <std::size_t N> void checkByMask(const std::array<QCheckBox*, N>& boxes, unsigned mask) {
    for (QCheckBox* b : boxes) b->setChecked(false);
    for (std::size_t k = 0; k < N; ++k) boxes[k]->setChecked(mask & 1u << k);
}

// Selects item `item` of the list; a value the list does not hold leaves it as it is.
inline void selectItem(QComboBox* list, int item) {
    if (item >= 0 && item < list->count()) list->setCurrentIndex(item);
}

// Selects item `item` of the list; a value the list does not hold leaves it with no selection,
// as an item index out of range does (the previous choice would be stale).
inline void selectItemOrNone(QComboBox* list, int item) {
    list->setCurrentIndex(item >= 0 && item < list->count() ? item : -1);
}

} // namespace kelta
