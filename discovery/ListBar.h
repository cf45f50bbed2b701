#pragma once
// What the main window's progress bar says about the list, decided here and
// only shown by the window: "Searching…" while a search runs, afterwards the
// counts ("29 cameras · 2 flagged · 1 selected"), and while the site is
// watched that it is ("Watching · every 5 s · 29 cameras · … · 1 gone").
// (A confirmation's outcome, which the window shows in place of this text,
// stays until the operator's next action; watch cycles do not replace it.)

#include <string>
#include <string_view>

namespace qdipc {

struct ListCounts {
    int cameras = 0;
    int flagged = 0;
    int selected = 0;
    int gone = 0;
};

class ListBar {
public:
    // A search went out / its repeats are over.
    void SearchStarted() { m_searching = true; }
    void SearchEnded() { m_searching = false; }
    bool Searching() const { return m_searching; }
    // Watching on (every intervalMs) or off.
    void SetWatching(bool on, int intervalMs) {
        m_watching = on;
        m_intervalMs = intervalMs;
    }
    // The bar's text for these counts.
    std::string Text(const ListCounts& counts) const;

private:
    bool m_searching = false;
    bool m_watching = false;
    int m_intervalMs = 0;
};

class DeviceList;
// The counts of a list with this many rows selected.
ListCounts CountsOfList(const DeviceList& list, int selected);

// "29 cameras · 2 flagged · 1 selected", with " · 1 gone" when withGone.
std::string CountsText(const ListCounts& counts, bool withGone);

// "5 s", "2.5 s", "0.2 s": an interval in seconds, without trailing zeros.
std::string SecondsText(int milliseconds);

// The text made safe for a progress bar's format, which replaces "%p", "%v"
// and "%m" by numbers and knows no escape for '%': a word joiner (U+2060,
// drawn as nothing) goes between such a '%' and its letter.
std::string ProgressFormatText(std::string_view text);

}  // namespace qdipc
