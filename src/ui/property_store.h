// The property grid's item store and editing rules, without any drawing.
//
// Sections:
//   1. Item types and the item record (what callers add, set and get)
//   2. The store: items, category rows, selection, editor state, notification
//   3. Item operations (add, delete, reset, count, get, set)
//   4. Rows: visible list, expand/collapse, select, row height, split, panes
//   5. Editing: open, commit, abandon, hide, check toggling, digits-only input
//   6. Value text conversions (check, IP address, date, time, colour, font)
//
// Every item keeps its value as text; add converts the caller's value to text and
// get converts it back into one shared record. Category rows (type 99) are kept
// apart from the items, so store indices count items only: the n-th item added is
// index n until an earlier one is deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- 1. Item types and the item record -----------------------------------------------------

enum PropType : int32_t {
    PropTypeText = 0,            // edit
    PropTypeList = 1,            // drop-down list of typeData's choices
    PropTypeEditableList = 2,    // editable combo box
    PropTypeStatic = 3,          // read-only
    PropTypeColour = 4,          // "..." button, colour picker
    PropTypeFont = 5,            // "..." button, font list
    PropTypeFile = 6,            // "..." button, file browser
    PropTypeFolder = 7,          // "..." button, folder browser
    PropTypeCheck = 8,           // toggled in place
    PropTypeIpAddress = 9,       // "%d.%d.%d.%d"
    PropTypeDate = 10,           // "YYYY-MM-DD"
    PropTypeTime = 11,           // "hh:mm:ss AM"
    PropTypeDateTime = 12,       // date, a blank, time
    PropTypeNumber = 13,         // edit accepting digits only
    PropTypeCategory = 99,       // internal: a category row
};
inline constexpr int kPropTypeCount = 14;

// Change notification code, sent with the item's store index.
inline constexpr int kPropChangedCode = 1066;
// Results of the operations, as the list box reports them.
inline constexpr int kPropError = -1;
inline constexpr int kPropCategoryRefused = -2;
inline constexpr int kPropMinRowHeight = 20;
inline constexpr int kPropSplitGrip = 5;  // pixels either side of the split that grab it

struct PropFont {
    std::string family;
    int pointSize = 10;
    bool bold = false;
    bool italic = false;
    uint32_t colour = 0;  // 0xRRGGBB
};

struct PropFileDialog {
    std::string title = "Select file";
    std::string path;
    std::string filter = "All Files (*.*)";
    std::string defaultExtension;
};

struct PropDateTime {
    int year = 2000, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};

// The record passed to add and set and returned by get. Only the value field of
// the item's type is read or filled.
struct PropItem {
    std::string category;     // empty: no category
    std::string label;
    std::string typeData;     // choices of the list types, separated by '|'
    std::string description;
    std::string text;         // text, list, editable list, static, folder, number
    uint32_t colour = 0;      // colour: 0xRRGGBB
    PropFont font;            // font
    PropFileDialog file;      // file
    int check = 0;            // check: 0 or 1
    uint32_t ipAddress = 0;   // IP address: first field in the high byte
    PropDateTime time;        // date, time, date and time
    int32_t type = PropTypeText;
};

// ---- 2. The store --------------------------------------------------------------------------------

struct PropNotification {
    const void* grid;  // the store that sends it
    int controlId;     // the grid's control identifier
    int code;          // kPropChangedCode
    int index;         // store index of the item
};
using PropNotifyFn = void (*)(void* owner, const PropNotification& notification);

struct PropStoredItem {
    std::string category, label, typeData, description;
    std::string value;      // the value as text
    uint32_t fontColour = 0;
    PropFileDialog file;    // title, filter and extension of the file type (path = value)
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
    bool tooltips = false;
    bool descriptionPane = false;
    std::string descriptionText;

    // In-place editor: shown over one item's value with the text being edited. A
    // hidden editor keeps its text pending until another editor replaces it, Escape
    // abandons it, or the owner commits it (the sheet's OK does).
    bool editorOpen = false;
    bool editPending = false;
    int editItem = -1;
    std::string editText;
    bool draggingSplit = false;

    // Change notification.
    PropNotifyFn notify = nullptr;
    void* owner = nullptr;
    int controlId = 0;

    PropItem shared;  // the one record get returns
};

// ---- 3. Item operations -------------------------------------------------------------------------

// Index of the new item; kPropCategoryRefused for type 99, kPropError for any
// other unknown type. A new category name adds a category row (collapsed).
int PropAddItem(PropStore& store, const PropItem& item);
// Removes the item; returns the number of items left, or kPropError. A category
// row without items left goes too.
int PropDeleteItem(PropStore& store, int index);
// Removes all items and rows, closes the editor, clears the description.
void PropReset(PropStore& store);
int PropCount(const PropStore& store);
// The item converted for the caller in the store's one shared record (overwritten
// by the next get), or null when there is no such item.
const PropItem* PropGetItem(PropStore& store, int index);
// Replaces the item's values (category, label, data, description, value, type).
// kPropError for type 99, unknown types or a missing index; else 0.
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
// 1 when the item's row is selected, 0 when not, kPropError for no such item.
int PropSelectionState(const PropStore& store, int index);
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
// The description pane shows the selected item's description while it is on.
void PropSetDescriptionPane(PropStore& store, bool on);

// ---- 5. Editing -----------------------------------------------------------------------------------

bool PropTypeEditable(int32_t type);  // has an in-place editor or dialog
// Opens the editor on the item with its current value text (not for static items,
// checks and categories).
bool PropOpenEditor(PropStore& store, int index);
// Enter, Tab, the wheel, a confirmed dialog: the edit text becomes the value and
// the owner is notified. Text that the type does not accept (IP address, date,
// time) abandons the edit instead. Returns whether a value was stored.
bool PropCommitEdit(PropStore& store);
// What the owner's carriage return to the current editor does: commits the pending
// edit, shown or hidden.
bool PropCommitPending(PropStore& store);
// Escape: closes the editor and keeps the stored value.
void PropAbandonEdit(PropStore& store);
// Focus moved outside the grid: the editor is hidden without committing; its text
// stays pending.
void PropHideEditor(PropStore& store);
// Check items: toggle and notify. False for any other item.
bool PropToggleCheck(PropStore& store, int index);
// Stores a value chosen in a dialog (colour, font, file, folder) or list and notifies.
bool PropStoreValue(PropStore& store, int index, const std::string& value);
// Whether a typed character reaches the editor of the type (number: digits only).
bool PropAcceptsChar(int32_t type, unsigned int c);
// Splits typeData's choices.
std::vector<std::string> PropChoices(const std::string& typeData);

// ---- 6. Value text conversions ------------------------------------------------------------------

std::string PropFormatIp(uint32_t address);
bool PropParseIp(const std::string& text, uint32_t& address);
std::string PropFormatDate(const PropDateTime& t);
bool PropParseDate(const std::string& text, PropDateTime& t);
std::string PropFormatTime(const PropDateTime& t);  // "hh:mm:ss AM", 12-hour clock
bool PropParseTime(const std::string& text, PropDateTime& t);
std::string PropFormatColour(uint32_t colour);      // "#RRGGBB"
bool PropParseColour(const std::string& text, uint32_t& colour);
std::string PropFormatFont(const PropFont& font);   // "Family, 10 pt[, bold][, italic]"
bool PropParseFont(const std::string& text, PropFont& font);
// The value text for an item record of its type.
std::string PropValueText(const PropItem& item);
// Whether text is a valid value of the type (only the validated edits refuse).
bool PropValidText(int32_t type, const std::string& text);
