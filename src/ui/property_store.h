// The property grid's item store and editing rules, without any drawing.
//
// Sections:
//   1. Item types and the item record (what callers add, set and get)
//   2. The store: items, category rows, selection, editor state, change callback
//   3. Item operations (add, reset, count, get, set)
//   4. Rows: visible list, expand/collapse, select, row height, split
//   5. Editing: open, commit, abandon, hide, check toggling, digits-only input
//
// Every item keeps its value as text ("T"/"F" for a check). Category rows are kept
// apart from the items, so store indices count items only: the n-th item added is
// index n.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- 1. Item types and the item record -----------------------------------------------------

enum PropType : int32_t {
    PropTypeText = 0,    // edited in place
    PropTypeCheck = 1,   // toggled in place
    PropTypeNumber = 2,  // edited in place, digits only
};
inline constexpr int kPropTypeCount = 3;

inline constexpr int kPropError = -1;  // an unknown type, item or row
inline constexpr int kPropMinRowHeight = 20;
inline constexpr int kPropSplitGrip = 5;  // pixels either side of the split that grab it

// The record passed to add and set and returned by get.
struct PropItem {
    std::string category;  // empty: no category
    std::string label;
    std::string text;  // text and number items
    int check = 0;     // check items: 0 or 1
    int32_t type = PropTypeText;
};

// ---- 2. The store --------------------------------------------------------------------------------

// Called with the item's store index after a committed edit or a toggled check.
using PropChangedFn = void (*)(void* owner, int index);

struct PropStoredItem {
    std::string category, label;
    std::string value;  // the value as text
    int32_t type = PropTypeText;
};

struct PropCategoryRow {
    std::string name;
    bool expanded = false;
};

// A row of the visible list: a category row or an item.
struct PropRow {
    bool category;
    int index;  // category list index or store index
};

struct PropStore {
    std::vector<PropStoredItem> items;        // insertion order
    std::vector<PropCategoryRow> categories;  // order of first use
    int selectedRow = -1;                     // row of the visible list
    int rowHeight = kPropMinRowHeight;
    int splitX = 200;                         // label/value split, pixels from the left

    // In-place editor: shown over one item's value with the text being edited. A
    // hidden editor keeps its text pending until another editor replaces it, Escape
    // abandons it, or the owner commits it (the sheet's OK does).
    bool editorOpen = false;
    bool editPending = false;
    int editItem = -1;
    std::string editText;
    bool draggingSplit = false;

    PropChangedFn changed = nullptr;
    void* owner = nullptr;

    PropItem shared;  // the one record get returns
};

// ---- 3. Item operations -------------------------------------------------------------------------

// Index of the new item, or kPropError for an unknown type. A new category name
// adds a category row (collapsed).
int PropAddItem(PropStore& store, const PropItem& item);
// Removes all items and rows and closes the editor.
void PropReset(PropStore& store);
int PropCount(const PropStore& store);
// The item in the store's one shared record (overwritten by the next get), or null
// when there is no such item.
const PropItem* PropGetItem(PropStore& store, int index);
// Replaces the item's values; kPropError for an unknown type or index, else 0.
int PropSetItem(PropStore& store, int index, const PropItem& item);

// ---- 4. Rows ----------------------------------------------------------------------------------------

// Items without a category first, then each category row followed, when expanded,
// by its items in insertion order.
std::vector<PropRow> PropVisibleRows(const PropStore& store);
// Expands or collapses the named categories (empty list: all).
void PropExpand(PropStore& store, const std::vector<std::string>& names);
void PropCollapse(PropStore& store, const std::vector<std::string>& names);
// A click on a row: a category row toggles; an item row is selected and its editor
// opened. Returns false for a row that does not exist.
bool PropClickRow(PropStore& store, int row);
// Selects the item's row (expanding its category) and opens its editor; returns the
// index or kPropError.
int PropSelectItem(PropStore& store, int index);
// Store index of the selected item; -1 for none or a category row.
int PropSelectedItem(const PropStore& store);
// Row height for every row; heights below 20 are refused with kPropError.
int PropSetRowHeight(PropStore& store, int height);
// Right and left arrow on the selected row: expand or collapse its category.
void PropArrowKey(PropStore& store, bool right);
// The split: whether x is within the grip, and its new position kept inside
// [grip, width - grip].
bool PropNearSplit(const PropStore& store, float x);
void PropMoveSplit(PropStore& store, int x, int width);

// ---- 5. Editing -----------------------------------------------------------------------------------

// Opens the editor on a text or number item with its current value text.
bool PropOpenEditor(PropStore& store, int index);
// Enter, Tab, the wheel, the owner's OK: the edit text becomes the value (a number
// keeps only its digits) and the owner is told. Returns whether a value was stored.
bool PropCommitEdit(PropStore& store);
// Escape: closes the editor and keeps the stored value.
void PropAbandonEdit(PropStore& store);
// Focus moved outside the grid: the editor is hidden without committing; its text
// stays pending.
void PropHideEditor(PropStore& store);
// Check items: toggle and tell the owner. False for any other item.
bool PropToggleCheck(PropStore& store, int index);
// Whether a typed character reaches the editor of the type (number: digits only).
bool PropAcceptsChar(int32_t type, unsigned int c);
