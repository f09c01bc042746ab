// The property grid's item store and editing rules.
//
// Sections:
//   1. Helpers (category lookup, notification)
//   2. Item operations
//   3. Rows, selection, split, panes
//   4. Editing
//   5. Value text conversions
#include "ui/property_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- 1. Helpers ------------------------------------------------------------------------------

bool KnownType(int32_t type) { return type >= 0 && type < kPropTypeCount; }

int FindCategory(const PropStore& s, const std::string& name) {
    for (size_t i = 0; i < s.categories.size(); ++i)
        if (s.categories[i].name == name) return static_cast<int>(i);
    return -1;
}

void EnsureCategory(PropStore& s, const std::string& name) {
    if (name.empty() || FindCategory(s, name) >= 0) return;
    s.categories.push_back(PropCategoryRow{name, false});
}

// Removes category rows that no item uses any more.
void DropEmptyCategories(PropStore& s) {
    for (size_t c = s.categories.size(); c-- > 0;) {
        const std::string& name = s.categories[c].name;
        const bool used = std::any_of(s.items.begin(), s.items.end(),
                                      [&](const PropStoredItem& it) { return it.category == name; });
        if (!used) s.categories.erase(s.categories.begin() + static_cast<long>(c));
    }
}

void Notify(PropStore& s, int index) {
    if (!s.notify) return;
    s.notify(s.owner, PropNotification{&s, s.controlId, kPropChangedCode, index});
}

void FillStored(PropStoredItem& out, const PropItem& in) {
    out.category = in.category;
    out.label = in.label;
    out.typeData = in.typeData;
    out.description = in.description;
    out.type = in.type;
    out.value = PropValueText(in);
    out.fontColour = in.font.colour;
    out.file = in.file;
}

int RowOfItem(const PropStore& s, int index) {
    const std::vector<PropRow> rows = PropVisibleRows(s);
    for (size_t r = 0; r < rows.size(); ++r)
        if (!rows[r].category && rows[r].index == index) return static_cast<int>(r);
    return -1;
}

bool ParseInt(const char*& p, int& value, int maxDigits) {
    int digits = 0;
    value = 0;
    while (*p >= '0' && *p <= '9' && digits < maxDigits) {
        value = value * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    return digits > 0;
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

// ---- 2. Item operations ------------------------------------------------------------------------------

int PropAddItem(PropStore& s, const PropItem& item) {
    if (item.type == PropTypeCategory) return kPropCategoryRefused;
    if (!KnownType(item.type)) return kPropError;
    PropStoredItem stored;
    FillStored(stored, item);
    EnsureCategory(s, item.category);
    s.items.push_back(std::move(stored));
    return static_cast<int>(s.items.size()) - 1;
}

int PropDeleteItem(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return kPropError;
    if (s.editPending) PropAbandonEdit(s);
    const int selected = PropSelectedItem(s);
    s.items.erase(s.items.begin() + index);
    DropEmptyCategories(s);
    s.selectedRow = -1;
    if (selected >= 0 && selected != index) s.selectedRow = RowOfItem(s, selected > index ? selected - 1 : selected);
    return PropCount(s);
}

void PropReset(PropStore& s) {
    PropAbandonEdit(s);
    s.items.clear();
    s.categories.clear();
    s.selectedRow = -1;
    s.descriptionText.clear();
}

int PropCount(const PropStore& s) { return static_cast<int>(s.items.size()); }

const PropItem* PropGetItem(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return nullptr;
    const PropStoredItem& it = s.items[static_cast<size_t>(index)];
    PropItem& out = s.shared;
    out = PropItem{};
    out.category = it.category;
    out.label = it.label;
    out.typeData = it.typeData;
    out.description = it.description;
    out.type = it.type;
    switch (it.type) {
        case PropTypeColour: PropParseColour(it.value, out.colour); break;
        case PropTypeFont:
            PropParseFont(it.value, out.font);
            out.font.colour = it.fontColour;
            break;
        case PropTypeFile:
            out.file = it.file;
            out.file.path = it.value;
            break;
        case PropTypeCheck: out.check = it.value == "T" ? 1 : 0; break;
        case PropTypeIpAddress: PropParseIp(it.value, out.ipAddress); break;
        case PropTypeDate: PropParseDate(it.value, out.time); break;
        case PropTypeTime: PropParseTime(it.value, out.time); break;
        case PropTypeDateTime: {
            const size_t blank = it.value.find(' ');
            if (blank != std::string::npos) {
                PropParseDate(it.value.substr(0, blank), out.time);
                PropParseTime(it.value.substr(blank + 1), out.time);
            }
            break;
        }
        default: out.text = it.value; break;
    }
    return &out;
}

int PropSetItem(PropStore& s, int index, const PropItem& item) {
    if (item.type == PropTypeCategory || !KnownType(item.type)) return kPropError;
    if (index < 0 || index >= PropCount(s)) return kPropError;
    if (s.editPending && s.editItem == index) PropAbandonEdit(s);
    const int selected = PropSelectedItem(s);
    FillStored(s.items[static_cast<size_t>(index)], item);
    EnsureCategory(s, item.category);
    DropEmptyCategories(s);
    if (selected >= 0) s.selectedRow = RowOfItem(s, selected);
    return 0;
}

// ---- 3. Rows, selection, split, panes ------------------------------------------------------------------

std::vector<PropRow> PropVisibleRows(const PropStore& s) {
    std::vector<PropRow> rows;
    for (size_t i = 0; i < s.items.size(); ++i)
        if (s.items[i].category.empty()) rows.push_back(PropRow{false, static_cast<int>(i)});
    for (size_t c = 0; c < s.categories.size(); ++c) {
        rows.push_back(PropRow{true, static_cast<int>(c)});
        if (!s.categories[c].expanded) continue;
        for (size_t i = 0; i < s.items.size(); ++i)
            if (s.items[i].category == s.categories[c].name) rows.push_back(PropRow{false, static_cast<int>(i)});
    }
    return rows;
}

static void SetExpanded(PropStore& s, const std::vector<std::string>& names, bool expanded) {
    const int selected = PropSelectedItem(s);
    const std::vector<PropRow> before = PropVisibleRows(s);
    const bool selectedCategory = s.selectedRow >= 0 && s.selectedRow < static_cast<int>(before.size()) &&
                                  before[static_cast<size_t>(s.selectedRow)].category;
    const int selectedCategoryIndex = selectedCategory ? before[static_cast<size_t>(s.selectedRow)].index : -1;
    for (PropCategoryRow& c : s.categories)
        if (names.empty() || std::find(names.begin(), names.end(), c.name) != names.end()) c.expanded = expanded;
    // Keep the same item or category selected; an item hidden by the collapse loses it.
    s.selectedRow = -1;
    const std::vector<PropRow> rows = PropVisibleRows(s);
    for (size_t r = 0; r < rows.size(); ++r) {
        if ((!rows[r].category && rows[r].index == selected) ||
            (rows[r].category && rows[r].index == selectedCategoryIndex))
            s.selectedRow = static_cast<int>(r);
    }
    if (s.editorOpen && RowOfItem(s, s.editItem) < 0) PropHideEditor(s);
}

void PropExpand(PropStore& s, const std::vector<std::string>& names) { SetExpanded(s, names, true); }
void PropCollapse(PropStore& s, const std::vector<std::string>& names) { SetExpanded(s, names, false); }

bool PropClickRow(PropStore& s, int row) {
    const std::vector<PropRow> rows = PropVisibleRows(s);
    if (row < 0 || row >= static_cast<int>(rows.size())) return false;
    const PropRow r = rows[static_cast<size_t>(row)];
    // Another row takes the focus: the old editor goes, its text with it.
    if (s.editPending && !(!r.category && r.index == s.editItem)) PropAbandonEdit(s);
    s.selectedRow = row;
    if (r.category) {
        const std::string name = s.categories[static_cast<size_t>(r.index)].name;
        if (s.categories[static_cast<size_t>(r.index)].expanded) PropCollapse(s, {name});
        else PropExpand(s, {name});
        s.descriptionText.clear();
        return true;
    }
    s.descriptionText = s.items[static_cast<size_t>(r.index)].description;
    if (!(s.editorOpen && s.editItem == r.index)) PropOpenEditor(s, r.index);
    return true;
}

int PropSelectItem(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return kPropError;
    const std::string& category = s.items[static_cast<size_t>(index)].category;
    if (!category.empty()) {
        const int c = FindCategory(s, category);
        if (c >= 0 && !s.categories[static_cast<size_t>(c)].expanded) PropExpand(s, {category});
    }
    if (!PropClickRow(s, RowOfItem(s, index))) return kPropError;
    return index;
}

int PropSelectionState(const PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return kPropError;
    return PropSelectedItem(s) == index ? 1 : 0;
}

int PropSelectedItem(const PropStore& s) {
    const std::vector<PropRow> rows = PropVisibleRows(s);
    if (s.selectedRow < 0 || s.selectedRow >= static_cast<int>(rows.size())) return -1;
    const PropRow r = rows[static_cast<size_t>(s.selectedRow)];
    return r.category ? -1 : r.index;
}

int PropSetRowHeight(PropStore& s, int height) {
    if (height < kPropMinRowHeight) return kPropError;
    s.rowHeight = height;
    return 0;
}

void PropArrowKey(PropStore& s, bool right) {
    const std::vector<PropRow> rows = PropVisibleRows(s);
    if (s.selectedRow < 0 || s.selectedRow >= static_cast<int>(rows.size())) return;
    const PropRow r = rows[static_cast<size_t>(s.selectedRow)];
    if (!r.category) return;
    const std::string name = s.categories[static_cast<size_t>(r.index)].name;
    if (right) PropExpand(s, {name});
    else PropCollapse(s, {name});
}

bool PropNearSplit(const PropStore& s, float x) {
    return x >= static_cast<float>(s.splitX - kPropSplitGrip) && x <= static_cast<float>(s.splitX + kPropSplitGrip);
}

void PropMoveSplit(PropStore& s, int x, int width) {
    const int low = kPropSplitGrip;
    const int high = std::max(low, width - kPropSplitGrip);
    s.splitX = std::clamp(x, low, high);
}

void PropSetDescriptionPane(PropStore& s, bool on) {
    s.descriptionPane = on;
    const int selected = PropSelectedItem(s);
    s.descriptionText = selected >= 0 ? s.items[static_cast<size_t>(selected)].description : std::string();
}

// ---- 4. Editing ------------------------------------------------------------------------------------------

bool PropTypeEditable(int32_t type) {
    return KnownType(type) && type != PropTypeStatic && type != PropTypeCheck;
}

bool PropOpenEditor(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return false;
    const PropStoredItem& it = s.items[static_cast<size_t>(index)];
    if (!PropTypeEditable(it.type)) return false;
    s.editorOpen = true;
    s.editPending = true;
    s.editItem = index;
    s.editText = it.value;
    return true;
}

bool PropCommitEdit(PropStore& s) {
    if (!s.editPending) return false;
    const int index = s.editItem;
    std::string text = s.editText;
    PropAbandonEdit(s);
    if (index < 0 || index >= PropCount(s)) return false;
    PropStoredItem& it = s.items[static_cast<size_t>(index)];
    if (it.type == PropTypeNumber)  // pasted text may carry other characters
        text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }), text.end());
    if (!PropValidText(it.type, text)) return false;
    it.value = text;
    Notify(s, index);
    return true;
}

bool PropCommitPending(PropStore& s) { return PropCommitEdit(s); }

void PropAbandonEdit(PropStore& s) {
    s.editorOpen = false;
    s.editPending = false;
    s.editItem = -1;
    s.editText.clear();
}

void PropHideEditor(PropStore& s) { s.editorOpen = false; }

bool PropToggleCheck(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return false;
    PropStoredItem& it = s.items[static_cast<size_t>(index)];
    if (it.type != PropTypeCheck) return false;
    it.value = it.value == "T" ? "F" : "T";
    Notify(s, index);
    return true;
}

bool PropStoreValue(PropStore& s, int index, const std::string& value) {
    if (index < 0 || index >= PropCount(s)) return false;
    PropStoredItem& it = s.items[static_cast<size_t>(index)];
    if (it.type == PropTypeStatic || it.type == PropTypeCheck || !PropValidText(it.type, value)) return false;
    if (s.editPending && s.editItem == index) PropAbandonEdit(s);
    it.value = value;
    Notify(s, index);
    return true;
}

bool PropAcceptsChar(int32_t type, unsigned int c) {
    if (type == PropTypeNumber) return c >= '0' && c <= '9';
    return c >= 0x20;
}

std::vector<std::string> PropChoices(const std::string& typeData) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= typeData.size() && !typeData.empty()) {
        const size_t bar = typeData.find('|', start);
        out.push_back(typeData.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return out;
}

// ---- 5. Value text conversions ----------------------------------------------------------------------

std::string PropFormatIp(uint32_t a) {
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", static_cast<int>(a >> 24), static_cast<int>((a >> 16) & 255),
                  static_cast<int>((a >> 8) & 255), static_cast<int>(a & 255));
    return buffer;
}

bool PropParseIp(const std::string& text, uint32_t& address) {
    const char* p = text.c_str();
    uint32_t result = 0;
    for (int field = 0; field < 4; ++field) {
        int value;
        if (!ParseInt(p, value, 3) || value > 255) return false;
        result = (result << 8) | static_cast<uint32_t>(value);
        if (field < 3 && *p++ != '.') return false;
    }
    if (*p) return false;
    address = result;
    return true;
}

std::string PropFormatDate(const PropDateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buffer;
}

bool PropParseDate(const std::string& text, PropDateTime& t) {
    const char* p = text.c_str();
    int y, m, d;
    if (!ParseInt(p, y, 4) || *p++ != '-' || !ParseInt(p, m, 2) || *p++ != '-' || !ParseInt(p, d, 2) || *p)
        return false;
    if (y < 1601 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
    t.year = y;
    t.month = m;
    t.day = d;
    return true;
}

std::string PropFormatTime(const PropDateTime& t) {
    const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d %s", hour12, t.minute, t.second, t.hour < 12 ? "AM" : "PM");
    return buffer;
}

bool PropParseTime(const std::string& text, PropDateTime& t) {
    const char* p = text.c_str();
    int h, m, sec;
    if (!ParseInt(p, h, 2) || *p++ != ':' || !ParseInt(p, m, 2) || *p++ != ':' || !ParseInt(p, sec, 2)) return false;
    if (*p++ != ' ') return false;
    bool pm;
    if (std::strcmp(p, "AM") == 0) pm = false;
    else if (std::strcmp(p, "PM") == 0) pm = true;
    else return false;
    if (h < 1 || h > 12 || m > 59 || sec > 59) return false;
    t.hour = (h % 12) + (pm ? 12 : 0);
    t.minute = m;
    t.second = sec;
    return true;
}

std::string PropFormatColour(uint32_t colour) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%06X", colour & 0xFFFFFFu);
    return buffer;
}

bool PropParseColour(const std::string& text, uint32_t& colour) {
    if (text.size() != 7 || text[0] != '#') return false;
    for (size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    colour = static_cast<uint32_t>(std::strtoul(text.c_str() + 1, nullptr, 16));
    return true;
}

std::string PropFormatFont(const PropFont& f) {
    std::string out = f.family + ", " + std::to_string(f.pointSize) + " pt";
    if (f.bold) out += ", bold";
    if (f.italic) out += ", italic";
    return out;
}

bool PropParseFont(const std::string& text, PropFont& f) {
    const size_t comma = text.find(", ");
    if (comma == std::string::npos || comma == 0) return false;
    PropFont out;
    out.family = text.substr(0, comma);
    const char* p = text.c_str() + comma + 2;
    if (!ParseInt(p, out.pointSize, 3) || out.pointSize < 1 || std::strncmp(p, " pt", 3) != 0) return false;
    p += 3;
    if (std::strncmp(p, ", bold", 6) == 0) {
        out.bold = true;
        p += 6;
    }
    if (std::strncmp(p, ", italic", 8) == 0) {
        out.italic = true;
        p += 8;
    }
    if (*p) return false;
    out.colour = f.colour;
    f = out;
    return true;
}

std::string PropValueText(const PropItem& item) {
    switch (item.type) {
        case PropTypeColour: return PropFormatColour(item.colour);
        case PropTypeFont: return PropFormatFont(item.font);
        case PropTypeFile: return item.file.path;
        case PropTypeCheck: return item.check ? "T" : "F";
        case PropTypeIpAddress: return PropFormatIp(item.ipAddress);
        case PropTypeDate: return PropFormatDate(item.time);
        case PropTypeTime: return PropFormatTime(item.time);
        case PropTypeDateTime: return PropFormatDate(item.time) + " " + PropFormatTime(item.time);
        default: return item.text;
    }
}

bool PropValidText(int32_t type, const std::string& text) {
    PropDateTime t;
    uint32_t u;
    PropFont f;
    switch (type) {
        case PropTypeIpAddress: return PropParseIp(text, u);
        case PropTypeDate: return PropParseDate(text, t);
        case PropTypeTime: return PropParseTime(text, t);
        case PropTypeDateTime: {
            const size_t blank = text.find(' ');
            return blank != std::string::npos && PropParseDate(text.substr(0, blank), t) &&
                   PropParseTime(text.substr(blank + 1), t);
        }
        case PropTypeColour: return PropParseColour(text, u);
        case PropTypeFont: return PropParseFont(text, f);
        case PropTypeCheck: return text == "T" || text == "F";
        case PropTypeNumber:
            return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        default: return true;
    }
}
