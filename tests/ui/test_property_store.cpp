// Property store: categories and rows, get/set, selection, editing and the change
// callback, number and check items.
#include <gtest/gtest.h>

#include <vector>

#include "ui/property_store.h"

namespace {

PropItem Text(const char* category, const char* label, const char* value) {
    PropItem item;
    item.category = category;
    item.label = label;
    item.text = value;
    return item;
}

struct Recorder {
    std::vector<int> changed;
};
void Record(void* owner, int index) { static_cast<Recorder*>(owner)->changed.push_back(index); }

std::vector<std::string> RowNames(const PropStore& s) {
    std::vector<std::string> names;
    for (const PropRow& r : PropVisibleRows(s))
        names.push_back(r.category ? "[" + s.categories[static_cast<size_t>(r.index)].name + "]"
                                   : s.items[static_cast<size_t>(r.index)].label);
    return names;
}

}  // namespace

TEST(PropertyStore, CategoriesInOrderOfFirstUseCollapsedUntilExpanded) {
    PropStore s;
    EXPECT_EQ(PropAddItem(s, Text("B", "b1", "1")), 0);
    EXPECT_EQ(PropAddItem(s, Text("A", "a1", "2")), 1);
    EXPECT_EQ(PropAddItem(s, Text("B", "b2", "3")), 2);
    EXPECT_EQ(PropAddItem(s, Text("C", "c1", "4")), 3);
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "[A]", "[C]"}));
    PropExpand(s, {});
    PropCollapse(s, {"A"});
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "[A]", "[C]", "c1"}));
    // A click on a category row toggles it; the arrow keys expand and collapse.
    EXPECT_TRUE(PropClickRow(s, 0));
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "[A]", "[C]", "c1"}));
    PropArrowKey(s, true);
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "[A]", "[C]", "c1"}));
    EXPECT_EQ(PropSelectedItem(s), -1);  // a category row is selected
    // Unknown types are refused; set replaces, and a category left empty goes.
    PropItem odd = Text("X", "x", "");
    odd.type = kPropTypeCount;
    EXPECT_EQ(PropAddItem(s, odd), kPropError);
    EXPECT_EQ(PropSetItem(s, 3, Text("B", "c1", "5")), 0);
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "c1", "[A]"}));
    EXPECT_EQ(PropGetItem(s, 3)->text, "5");
    EXPECT_EQ(PropGetItem(s, 4), nullptr);
}

TEST(PropertyStore, SelectOpensEditorAndCommitTellsTheOwner) {
    PropStore s;
    Recorder rec;
    s.changed = Record;
    s.owner = &rec;
    PropAddItem(s, Text("A", "a1", "1"));
    PropAddItem(s, Text("B", "b1", "2"));
    EXPECT_EQ(PropSelectItem(s, 1), 1);  // expands B to reach the row
    EXPECT_EQ(PropSelectedItem(s), 1);
    ASSERT_TRUE(s.editorOpen);
    EXPECT_EQ(s.editText, "2");
    s.editText = "42";
    EXPECT_TRUE(PropCommitEdit(s));
    EXPECT_FALSE(s.editorOpen);
    EXPECT_EQ(rec.changed, std::vector<int>{1});
    EXPECT_EQ(PropGetItem(s, 1)->text, "42");
    // Escape abandons the edit: nothing stored, nothing sent, nothing pending.
    PropOpenEditor(s, 1);
    s.editText = "7";
    PropAbandonEdit(s);
    EXPECT_FALSE(PropCommitEdit(s));
    // Losing the focus hides the editor without committing; the owner's explicit
    // commit (the sheet's OK) still stores the hidden editor's text.
    PropOpenEditor(s, 1);
    s.editText = "8";
    PropHideEditor(s);
    EXPECT_EQ(PropGetItem(s, 1)->text, "42");
    EXPECT_TRUE(PropCommitEdit(s));
    EXPECT_EQ(PropGetItem(s, 1)->text, "8");
    // Clicking another row drops the first row's pending text.
    PropOpenEditor(s, 1);
    s.editText = "9";
    PropHideEditor(s);
    PropSelectItem(s, 0);
    PropAbandonEdit(s);
    EXPECT_FALSE(PropCommitEdit(s));
    EXPECT_EQ(PropGetItem(s, 1)->text, "8");
    EXPECT_EQ(rec.changed.size(), 2u);
}

TEST(PropertyStore, ChecksToggleAndNumbersTakeDigitsOnly) {
    PropStore s;
    Recorder rec;
    s.changed = Record;
    s.owner = &rec;
    PropItem check;
    check.type = PropTypeCheck;
    PropAddItem(s, check);
    EXPECT_TRUE(PropToggleCheck(s, 0));
    EXPECT_TRUE(PropToggleCheck(s, 0));
    EXPECT_EQ(PropGetItem(s, 0)->check, 0);
    EXPECT_EQ(rec.changed.size(), 2u);
    EXPECT_FALSE(PropOpenEditor(s, 0));  // toggled in place, no editor

    EXPECT_FALSE(PropAcceptsChar(PropTypeNumber, '-'));
    PropItem n;
    n.type = PropTypeNumber;
    n.text = "5";
    PropAddItem(s, n);
    EXPECT_FALSE(PropToggleCheck(s, 1));
    PropOpenEditor(s, 1);
    s.editText = "1a2b";  // pasted text: the letters are dropped
    EXPECT_TRUE(PropCommitEdit(s));
    EXPECT_EQ(PropGetItem(s, 1)->text, "12");
}

TEST(PropertyStore, RowHeightAndSplit) {
    PropStore s;
    EXPECT_EQ(PropSetRowHeight(s, 19), kPropError);
    EXPECT_EQ(PropSetRowHeight(s, 24), 0);
    s.splitX = 100;
    EXPECT_TRUE(PropNearSplit(s, 105.0f));
    EXPECT_FALSE(PropNearSplit(s, 106.0f));
    PropMoveSplit(s, 1000, 400);
    EXPECT_EQ(s.splitX, 395);
    PropMoveSplit(s, -3, 400);
    EXPECT_EQ(s.splitX, 5);
}
