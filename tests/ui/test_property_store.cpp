// Property store: items and categories, get/set, delete/reset, selection, editing
// and the change notification, value conversions.
#include <gtest/gtest.h>

#include <vector>

#include "ui/property_store.h"

namespace {

PropItem Text(const char* category, const char* label, const char* value) {
    PropItem item;
    item.category = category;
    item.label = label;
    item.text = value;
    item.type = PropTypeText;
    return item;
}

struct Recorder {
    std::vector<PropNotification> seen;
};
void Record(void* owner, const PropNotification& n) { static_cast<Recorder*>(owner)->seen.push_back(n); }

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
    EXPECT_EQ(PropAddItem(s, Text("A", "a2", "5")), 4);
    EXPECT_EQ(PropCount(s), 5);
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "[A]", "[C]"}));
    PropExpand(s, {});
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "[A]", "a1", "a2", "[C]", "c1"}));
    PropCollapse(s, {"A"});
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "[A]", "[C]", "c1"}));
    // A click on a category row toggles it; the arrow keys expand and collapse.
    EXPECT_TRUE(PropClickRow(s, 0));
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "[A]", "[C]", "c1"}));
    PropArrowKey(s, true);
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[B]", "b1", "b2", "[A]", "[C]", "c1"}));
    EXPECT_EQ(PropSelectedItem(s), -1);  // a category row is selected
}

TEST(PropertyStore, TypeNinetyNineAndUnknownTypesRefused) {
    PropStore s;
    PropItem category = Text("X", "x", "");
    category.type = PropTypeCategory;
    EXPECT_EQ(PropAddItem(s, category), -2);
    PropItem odd = Text("X", "x", "");
    odd.type = 14;
    EXPECT_EQ(PropAddItem(s, odd), -1);
    EXPECT_EQ(PropCount(s), 0);
    EXPECT_TRUE(s.categories.empty());
    ASSERT_EQ(PropAddItem(s, Text("X", "x", "v")), 0);
    EXPECT_EQ(PropSetItem(s, 0, category), -1);
    EXPECT_EQ(PropGetItem(s, 0)->text, "v");
}

TEST(PropertyStore, GetFillsOneSharedRecordAndSetReplaces) {
    PropStore s;
    PropAddItem(s, Text("A", "first", "one"));
    PropItem check;
    check.category = "A";
    check.label = "flag";
    check.check = 1;
    check.type = PropTypeCheck;
    PropAddItem(s, check);
    const PropItem* a = PropGetItem(s, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text, "one");
    const PropItem* b = PropGetItem(s, 1);
    EXPECT_EQ(a, b);  // the same record, now holding the second item
    EXPECT_EQ(a->label, "flag");
    EXPECT_EQ(a->check, 1);
    EXPECT_EQ(PropGetItem(s, 2), nullptr);
    EXPECT_EQ(PropGetItem(s, -1), nullptr);

    EXPECT_EQ(PropSetItem(s, 0, Text("Z", "renamed", "two")), 0);
    EXPECT_EQ(PropGetItem(s, 0)->text, "two");
    EXPECT_EQ(PropGetItem(s, 0)->category, "Z");
    EXPECT_EQ(PropSetItem(s, 5, Text("A", "x", "y")), -1);
}

TEST(PropertyStore, DeleteAndReset) {
    PropStore s;
    PropAddItem(s, Text("A", "a1", "1"));
    PropAddItem(s, Text("B", "b1", "2"));
    PropAddItem(s, Text("A", "a2", "3"));
    EXPECT_EQ(PropDeleteItem(s, 1), 2);
    EXPECT_EQ(PropGetItem(s, 1)->label, "a2");  // later items move up
    EXPECT_EQ(RowNames(s), (std::vector<std::string>{"[A]"}));  // B had no item left
    EXPECT_EQ(PropDeleteItem(s, 7), -1);
    PropSelectItem(s, 0);
    EXPECT_TRUE(s.editorOpen);
    PropReset(s);
    EXPECT_EQ(PropCount(s), 0);
    EXPECT_TRUE(PropVisibleRows(s).empty());
    EXPECT_FALSE(s.editorOpen);
    EXPECT_EQ(PropSelectedItem(s), -1);
}

TEST(PropertyStore, SelectOpensEditorAndEnterCommitsWithNotification) {
    PropStore s;
    Recorder rec;
    s.notify = Record;
    s.owner = &rec;
    s.controlId = 1028;
    PropAddItem(s, Text("A", "a1", "1"));
    PropAddItem(s, Text("B", "b1", "2"));
    EXPECT_EQ(PropSelectItem(s, 1), 1);  // expands B to reach the row
    EXPECT_EQ(PropSelectionState(s, 1), 1);
    EXPECT_EQ(PropSelectionState(s, 0), 0);
    EXPECT_EQ(PropSelectionState(s, 9), -1);
    EXPECT_EQ(PropSelectedItem(s), 1);
    ASSERT_TRUE(s.editorOpen);
    EXPECT_EQ(s.editText, "2");
    s.editText = "42";
    EXPECT_TRUE(PropCommitPending(s));
    EXPECT_FALSE(s.editorOpen);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].code, 1066);
    EXPECT_EQ(rec.seen[0].index, 1);
    EXPECT_EQ(rec.seen[0].controlId, 1028);
    EXPECT_EQ(PropGetItem(s, 1)->text, "42");
    // Escape abandons the edit: nothing stored, nothing sent, nothing pending.
    PropOpenEditor(s, 1);
    s.editText = "7";
    PropAbandonEdit(s);
    EXPECT_FALSE(PropCommitPending(s));
    // Losing the focus hides the editor without committing; the owner's explicit
    // commit (the sheet's OK) still stores the hidden editor's text.
    PropOpenEditor(s, 1);
    s.editText = "8";
    PropHideEditor(s);
    EXPECT_FALSE(s.editorOpen);
    EXPECT_EQ(PropGetItem(s, 1)->text, "42");
    EXPECT_EQ(rec.seen.size(), 1u);
    EXPECT_TRUE(PropCommitPending(s));
    EXPECT_EQ(PropGetItem(s, 1)->text, "8");
    EXPECT_EQ(rec.seen.size(), 2u);
    // Clicking another row drops the first row's pending text.
    PropOpenEditor(s, 1);
    s.editText = "9";
    PropHideEditor(s);
    PropSelectItem(s, 0);
    s.editText = "x";
    PropAbandonEdit(s);
    EXPECT_FALSE(PropCommitPending(s));
    EXPECT_EQ(PropGetItem(s, 1)->text, "8");
}

TEST(PropertyStore, CheckTogglesTwiceBackWithTwoNotifications) {
    PropStore s;
    Recorder rec;
    s.notify = Record;
    s.owner = &rec;
    PropItem check;
    check.label = "flag";
    check.type = PropTypeCheck;
    check.check = 0;
    PropAddItem(s, check);
    EXPECT_EQ(s.items[0].value, "F");
    EXPECT_TRUE(PropToggleCheck(s, 0));
    EXPECT_EQ(PropGetItem(s, 0)->check, 1);
    EXPECT_TRUE(PropToggleCheck(s, 0));
    EXPECT_EQ(PropGetItem(s, 0)->check, 0);
    EXPECT_EQ(rec.seen.size(), 2u);
    // Checks and statics have no in-place editor; toggling a text item does nothing.
    EXPECT_FALSE(PropOpenEditor(s, 0));
    PropAddItem(s, Text("", "t", "x"));
    EXPECT_FALSE(PropToggleCheck(s, 1));
}

TEST(PropertyStore, NumberItemsTakeDigitsOnly) {
    EXPECT_TRUE(PropAcceptsChar(PropTypeNumber, '7'));
    EXPECT_FALSE(PropAcceptsChar(PropTypeNumber, 'a'));
    EXPECT_FALSE(PropAcceptsChar(PropTypeNumber, '-'));
    EXPECT_FALSE(PropAcceptsChar(PropTypeNumber, '.'));
    EXPECT_TRUE(PropAcceptsChar(PropTypeText, 'a'));
    PropStore s;
    PropItem n;
    n.type = PropTypeNumber;
    n.text = "5";
    PropAddItem(s, n);
    PropOpenEditor(s, 0);
    s.editText = "1a2b";  // pasted text: the letters are dropped
    EXPECT_TRUE(PropCommitEdit(s));
    EXPECT_EQ(PropGetItem(s, 0)->text, "12");
}

TEST(PropertyStore, ValidatedEditsAndConversions) {
    uint32_t ip = 0;
    EXPECT_TRUE(PropParseIp("192.168.0.1", ip));
    EXPECT_EQ(ip, 0xC0A80001u);
    EXPECT_EQ(PropFormatIp(0x0A000102u), "10.0.1.2");
    EXPECT_FALSE(PropParseIp("256.1.1.1", ip));
    EXPECT_FALSE(PropParseIp("1.2.3", ip));
    PropDateTime t;
    EXPECT_TRUE(PropParseDate("2024-02-29", t));
    EXPECT_FALSE(PropParseDate("2023-02-29", t));
    EXPECT_TRUE(PropParseTime("12:05:09 AM", t));
    EXPECT_EQ(t.hour, 0);
    EXPECT_TRUE(PropParseTime("01:00:00 PM", t));
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(PropFormatTime(t), "01:00:00 PM");
    EXPECT_FALSE(PropParseTime("13:00:00 PM", t));
    PropFont f;
    EXPECT_TRUE(PropParseFont("Liberation Sans, 12 pt, bold", f));
    EXPECT_EQ(f.family, "Liberation Sans");
    EXPECT_EQ(f.pointSize, 12);
    EXPECT_TRUE(f.bold);
    EXPECT_FALSE(f.italic);

    // An invalid IP address abandons the edit and keeps the value.
    PropStore s;
    PropItem item;
    item.type = PropTypeIpAddress;
    item.ipAddress = 0x7F000001u;
    PropAddItem(s, item);
    EXPECT_EQ(s.items[0].value, "127.0.0.1");
    PropOpenEditor(s, 0);
    s.editText = "300.0.0.1";
    EXPECT_FALSE(PropCommitEdit(s));
    EXPECT_EQ(PropGetItem(s, 0)->ipAddress, 0x7F000001u);
}

TEST(PropertyStore, RowHeightAndSplit) {
    PropStore s;
    EXPECT_EQ(PropSetRowHeight(s, 19), -1);
    EXPECT_EQ(PropSetRowHeight(s, 24), 0);
    EXPECT_EQ(s.rowHeight, 24);
    s.splitX = 100;
    EXPECT_TRUE(PropNearSplit(s, 96.0f));
    EXPECT_TRUE(PropNearSplit(s, 105.0f));
    EXPECT_FALSE(PropNearSplit(s, 106.0f));
    PropMoveSplit(s, 1000, 400);
    EXPECT_EQ(s.splitX, 395);
    PropMoveSplit(s, -3, 400);
    EXPECT_EQ(s.splitX, 5);
}
