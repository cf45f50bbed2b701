#pragma once
// How every window shows the device list, whatever its toolkit: the twelve
// column widths in pixels, the row stripes by display position, and the rule
// by which a header click sorts.

#include <array>

#include "discovery/ReplyCells.h"

namespace qdipc {

inline constexpr std::array<int, kColumnCount> kColumnWidths = {40,  120, 50,  100, 50, 100,
                                                                100, 100, 100, 80,  50, 80};
inline constexpr int kEvenRowGrey = 250;  // rows 0, 2, 4, ...
inline constexpr int kOddRowGrey = 200;   // rows 1, 3, 5, ...

// The sort state of one list: the column of the last sort and its direction.
// A click on the column of the last sort reverses the direction; a click on
// another column sorts it ascending. It starts at column 0, descending, so
// the first click on any column sorts ascending.
class ListSortState {
public:
    void Click(int column) {
        if (column == m_column) {
            m_ascending = !m_ascending;
        } else {
            m_ascending = true;
            m_column = column;
        }
    }
    int Column() const { return m_column; }
    bool Ascending() const { return m_ascending; }

private:
    int m_column = 0;
    bool m_ascending = false;
};

}  // namespace qdipc
