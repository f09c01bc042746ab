// The property grid's item store and editing rules.
//
// Sections:
//   1. Helpers (category lookup, change callback)
//   2. Item operations
//   3. Rows, selection, split
//   4. Editing
#include "ui/property_store.h"

#include <algorithm>

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
    if (s.changed) s.changed(s.owner, index);
}

void FillStored(PropStoredItem& out, const PropItem& in) {
    out.category = in.category;
    out.label = in.label;
    out.type = in.type;
    out.value = in.type == PropTypeCheck ? (in.check ? "T" : "F") : in.text;
}

int RowOfItem(const PropStore& s, int index) {
    const std::vector<PropRow> rows = PropVisibleRows(s);
    for (size_t r = 0; r < rows.size(); ++r)
        if (!rows[r].category && rows[r].index == index) return static_cast<int>(r);
    return -1;
}

}  // namespace

// ---- 2. Item operations ------------------------------------------------------------------------------

int PropAddItem(PropStore& s, const PropItem& item) {
    if (!KnownType(item.type)) return kPropError;
    PropStoredItem stored;
    FillStored(stored, item);
    EnsureCategory(s, item.category);
    s.items.push_back(std::move(stored));
    return static_cast<int>(s.items.size()) - 1;
}

void PropReset(PropStore& s) {
    PropAbandonEdit(s);
    s.items.clear();
    s.categories.clear();
    s.selectedRow = -1;
}

int PropCount(const PropStore& s) { return static_cast<int>(s.items.size()); }

const PropItem* PropGetItem(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return nullptr;
    const PropStoredItem& it = s.items[static_cast<size_t>(index)];
    PropItem& out = s.shared;
    out = PropItem{};
    out.category = it.category;
    out.label = it.label;
    out.type = it.type;
    if (it.type == PropTypeCheck) out.check = it.value == "T" ? 1 : 0;
    else out.text = it.value;
    return &out;
}

int PropSetItem(PropStore& s, int index, const PropItem& item) {
    if (!KnownType(item.type)) return kPropError;
    if (index < 0 || index >= PropCount(s)) return kPropError;
    if (s.editPending && s.editItem == index) PropAbandonEdit(s);
    const int selected = PropSelectedItem(s);
    FillStored(s.items[static_cast<size_t>(index)], item);
    EnsureCategory(s, item.category);
    DropEmptyCategories(s);
    if (selected >= 0) s.selectedRow = RowOfItem(s, selected);
    return 0;
}

// ---- 3. Rows, selection, split ------------------------------------------------------------------

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

namespace {
void SetExpanded(PropStore& s, const std::vector<std::string>& names, bool expanded) {
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

}  // namespace

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
        return true;
    }
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

// ---- 4. Editing ------------------------------------------------------------------------------------------

bool PropOpenEditor(PropStore& s, int index) {
    if (index < 0 || index >= PropCount(s)) return false;
    const PropStoredItem& it = s.items[static_cast<size_t>(index)];
    if (it.type == PropTypeCheck) return false;
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
    it.value = text;
    Notify(s, index);
    return true;
}

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

bool PropAcceptsChar(int32_t type, unsigned int c) {
    if (type == PropTypeNumber) return c >= '0' && c <= '9';
    return c >= 0x20;
}
