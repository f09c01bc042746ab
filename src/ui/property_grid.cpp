// The property grid drawn with Dear ImGui, the file/folder browser and the font lookup.
//
// Sections:
//   1. File and folder browser
//   2. Font file of a family (fontconfig)
//   3. Grid: the in-place editor
//   4. Grid: rows, split, keys
#include "ui/property_grid.h"

#include <fontconfig/fontconfig.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

// ---- 1. File and folder browser ----------------------------------------------------------------

std::vector<BrowserEntry> ListFolder(const std::string& folder, bool includeFiles, const std::string& extension) {
    std::vector<BrowserEntry> folders, files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) folders.push_back({name, true});
        else if (includeFiles && (extension.empty() || (name.size() > extension.size() &&
                                                         name.compare(name.size() - extension.size(),
                                                                      extension.size(), extension) == 0)))
            files.push_back({name, false});
    }
    auto byName = [](const BrowserEntry& a, const BrowserEntry& b) { return a.name < b.name; };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    std::vector<BrowserEntry> out;
    const fs::path path(folder);
    if (path.has_parent_path() && path != path.root_path()) out.push_back({"..", true});
    out.insert(out.end(), folders.begin(), folders.end());
    out.insert(out.end(), files.begin(), files.end());
    return out;
}

static void ShowFolder(FileBrowser& b, const std::string& folder) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::path(folder), ec);
    b.folder = ec ? folder : canonical.string();
    b.entries = ListFolder(b.folder, b.mode != FileBrowserFolder, b.extension);
    b.selected.clear();
    b.pathText = b.folder;
    b.error.clear();
}

void OpenFileBrowser(FileBrowser& b, const std::string& title, const std::string& start, FileBrowserMode mode) {
    b.title = title;
    b.mode = mode;
    std::error_code ec;
    fs::path path(start);
    std::string file;
    if (mode != FileBrowserFolder && !start.empty() && !fs::is_directory(path, ec)) {
        file = path.filename().string();
        path = path.parent_path();
    }
    if (path.empty() || !fs::is_directory(path, ec)) path = fs::current_path(ec);
    ShowFolder(b, path.string());
    if (!file.empty()) {
        b.selected = file;
        b.pathText = (fs::path(b.folder) / file).string();
    }
    b.result.clear();
    b.openRequested = true;
}

int BrowserSubmitPath(FileBrowser& b, const std::string& typed) {
    if (typed.empty()) {
        b.error = "Type a path or choose an entry.";
        return 0;
    }
    std::error_code ec;
    fs::path path(typed);
    if (path.is_relative()) path = fs::path(b.folder) / path;
    if (fs::is_directory(path, ec)) {
        // The folder shown, confirmed again, is the choice of a folder browser.
        const fs::path canonical = fs::weakly_canonical(path, ec);
        if (b.mode == FileBrowserFolder && !ec && canonical.string() == b.folder) {
            b.result = b.folder;
            b.error.clear();
            return 1;
        }
        ShowFolder(b, path.string());
        return 0;
    }
    const fs::path parent = path.parent_path();
    switch (b.mode) {
        case FileBrowserFolder: b.error = "No such folder: " + path.string(); return 0;
        case FileBrowserOpen:
            if (!fs::is_regular_file(path, ec)) {
                b.error = "No such file: " + path.string();
                return 0;
            }
            break;
        case FileBrowserSave:
            if (!fs::is_directory(parent, ec)) {
                b.error = "No such folder: " + parent.string();
                return 0;
            }
            if (!b.extension.empty() && !path.has_extension()) path += b.extension;
            break;
    }
    b.result = path.string();
    b.error.clear();
    return 1;
}

void BrowserEditPath(FileBrowser& b, const std::string& text) {
    b.pathText = text;
    b.error.clear();
}

int BrowserClickEntry(FileBrowser& b, const BrowserEntry& e, bool doubleClick) {
    const fs::path path = fs::path(b.folder) / e.name;
    if (e.folder) {
        if (doubleClick) ShowFolder(b, path.string());
        else BrowserEditPath(b, fs::weakly_canonical(path).string());
        return 0;
    }
    b.selected = e.name;
    BrowserEditPath(b, path.string());
    return doubleClick ? BrowserSubmitPath(b, b.pathText) : 0;
}

int DrawFileBrowser(FileBrowser& b) {
    const std::string popupId = b.title + "##browser";
    if (b.openRequested) {
        ImGui::OpenPopup(popupId.c_str());
        b.openRequested = false;
    }
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowSize(ImVec2(display.x * 0.8f, display.y * 0.8f), ImGuiCond_Appearing);
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (!ImGui::BeginPopupModal(popupId.c_str(), nullptr, ImGuiWindowFlags_NoSavedSettings)) return 0;
    int outcome = 0;
    // The path box: a folder to go to, or (open and save modes) the file itself.
    ImGui::SetNextItemWidth(-1);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 1.0f);  // a visible box
    std::string typed = b.pathText;
    bool submit = ImGui::InputText("##path", &typed, ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::PopStyleVar();
    if (typed != b.pathText) BrowserEditPath(b, typed);
    if (!b.error.empty()) ImGui::TextColored(ImVec4(1.0f, 0.35f, 0.35f, 1.0f), "%s", b.error.c_str());
    const float buttonsHeight = ImGui::GetFrameHeightWithSpacing() * 1.5f;
    ImGui::BeginChild("entries", ImVec2(0, -buttonsHeight), true);
    // Entries act after the list is drawn: opening a folder replaces the list.
    const BrowserEntry* clicked = nullptr;
    bool doubleClick = false;
    for (const BrowserEntry& e : b.entries) {
        const std::string caption = (e.folder ? "[" + e.name + "]" : e.name);
        const bool selected = e.name == b.selected || (e.folder && b.pathText == (fs::path(b.folder) / e.name).string());
        if (ImGui::Selectable(caption.c_str(), selected, ImGuiSelectableFlags_AllowDoubleClick)) {
            clicked = &e;
            doubleClick = ImGui::IsMouseDoubleClicked(0);
        }
    }
    ImGui::EndChild();
    if (clicked != nullptr) {
        const BrowserEntry entry = *clicked;
        if (BrowserClickEntry(b, entry, doubleClick) == 1) {
            outcome = 1;
            ImGui::CloseCurrentPopup();
        }
    }
    const char* confirm = b.mode == FileBrowserFolder ? "Select this folder" : b.mode == FileBrowserOpen ? "Open" : "Save";
    if (ImGui::Button(confirm)) submit = true;
    if (submit && outcome == 0) {
        outcome = BrowserSubmitPath(b, b.pathText);
        if (outcome == 1) ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel") || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) {
        outcome = -1;
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
    return outcome;
}

// ---- 2. Font file of a family ------------------------------------------------------------------------------

std::string FontFileForFamily(const char* family) {
    if (!FcInit()) return {};
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    if (!pattern) return {};
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::string file;
    if (match) {
        FcChar8* path = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
            file = reinterpret_cast<const char*>(path);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return file;
}

// ---- 3. Grid: the in-place editor ------------------------------------------------

namespace {

constexpr int kEditBufferSize = 1024;

int EditorCallback(ImGuiInputTextCallbackData* data) {
    PropGridView* view = static_cast<PropGridView*>(data->UserData);
    if (data->EventFlag == ImGuiInputTextFlags_CallbackCompletion) view->tabPressed = true;
    if (data->EventFlag == ImGuiInputTextFlags_CallbackCharFilter) {
        return PropAcceptsChar(view->editorType, data->EventChar) ? 0 : 1;
    }
    return 0;
}

// The text edit of the text and number items: Enter, Tab and the wheel commit; Escape abandons; losing the
// focus hides it without committing.
void DrawTextEditor(PropStore& store, PropGridView& view, int32_t type, float width) {
    char buffer[kEditBufferSize];
    std::snprintf(buffer, sizeof buffer, "%s", store.editText.c_str());
    ImGui::SetNextItemWidth(width);
    if (view.focusEditor) {
        ImGui::SetKeyboardFocusHere();
        view.focusEditor = false;
    }
    view.tabPressed = false;
    view.editorType = type;
    const ImGuiInputTextFlags flags = ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll |
                                      ImGuiInputTextFlags_CallbackCompletion |
                                      ImGuiInputTextFlags_CallbackCharFilter;
    const bool enter = ImGui::InputText("##editor", buffer, sizeof buffer, flags, EditorCallback, &view);
    const bool active = ImGui::IsItemActive();
    const bool deactivated = ImGui::IsItemDeactivated();
    store.editText = buffer;
    const bool wheel = (active || ImGui::IsItemHovered()) && ImGui::GetIO().MouseWheel != 0.0f;
    if (enter || (active && view.tabPressed) || wheel) {
        PropCommitEdit(store);
    } else if (deactivated) {
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) PropAbandonEdit(store);
        else PropHideEditor(store);
    }
}

// ---- 4. Grid: rows, split, keys ------------------------------------------------------------------------

void DrawValue(PropStore& store, PropGridView& view, int row, int index, ImVec2 valueMin, float valueWidth,
               float rowHeight, bool clicksAllowed) {
    const PropStoredItem& item = store.items[static_cast<size_t>(index)];
    const float padY = (rowHeight - ImGui::GetFrameHeight()) * 0.5f;
    ImGui::SetCursorScreenPos(ImVec2(valueMin.x + 2, valueMin.y + std::max(0.0f, padY)));
    if (item.type == PropTypeCheck) {
        bool checked = item.value == "T";
        // A bordered box on a lighter frame: bare, it reads as an empty cell of the grid.
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 1.0f);
        ImGui::PushStyleColor(ImGuiCol_FrameBg, ImGui::GetColorU32(ImGuiCol_FrameBgHovered));
        const bool toggled = ImGui::Checkbox("##check", &checked);
        ImGui::PopStyleColor();
        ImGui::PopStyleVar();
        if (toggled && clicksAllowed) {
            store.selectedRow = row;
            PropToggleCheck(store, index);
        }
        return;
    }
    const bool editing = store.editorOpen && store.editItem == index;
    if (editing) {
        if (view.focusedItem != index) {
            view.focusEditor = true;
            view.focusedItem = index;
        }
        DrawTextEditor(store, view, item.type, std::max(10.0f, valueWidth - 4));
        if (!store.editorOpen) view.focusedItem = -1;
        return;
    }
    ImGui::AlignTextToFramePadding();
    const ImVec2 textPos = ImGui::GetCursorScreenPos();
    ImGui::PushClipRect(textPos, ImVec2(valueMin.x + valueWidth, valueMin.y + rowHeight), true);
    ImGui::TextUnformatted(item.value.c_str());
    ImGui::PopClipRect();
}

}  // namespace

void DrawPropertyGrid(PropStore& store, PropGridView& view, const char* id, float width, float height) {
    ImGui::BeginChild(id, ImVec2(width, height), true);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float fullWidth = ImGui::GetContentRegionAvail().x;
    const float rowHeight = static_cast<float>(store.rowHeight);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImGuiStyle& style = ImGui::GetStyle();
    PropMoveSplit(store, store.splitX, static_cast<int>(fullWidth));

    // The split: grabbed within the grip, dragged while the button is held.
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const bool hovered = ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem);
    const bool nearSplit = hovered && PropNearSplit(store, mouse.x - origin.x);
    if (nearSplit || store.draggingSplit) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    if (nearSplit && ImGui::IsMouseClicked(0) && !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId)) {
        store.draggingSplit = true;
        PropHideEditor(store);
        view.focusedItem = -1;
    }
    if (store.draggingSplit) {
        PropMoveSplit(store, static_cast<int>(mouse.x - origin.x), static_cast<int>(fullWidth));
        if (!ImGui::IsMouseDown(0)) store.draggingSplit = false;
    }
    const bool clicksAllowed = !store.draggingSplit && !nearSplit;

    const std::vector<PropRow> rows = PropVisibleRows(store);
    const float split = static_cast<float>(store.splitX);
    for (size_t r = 0; r < rows.size(); ++r) {
        const int row = static_cast<int>(r);
        ImGui::PushID(row);
        const ImVec2 rowMin(origin.x, origin.y + rowHeight * static_cast<float>(r));
        const ImVec2 rowMax(origin.x + fullWidth, rowMin.y + rowHeight);
        ImGui::SetCursorScreenPos(rowMin);
        const bool selected = store.selectedRow == row;
        if (rows[r].category) {
            const PropCategoryRow& c = store.categories[static_cast<size_t>(rows[r].index)];
            draw->AddRectFilled(rowMin, rowMax, ImGui::GetColorU32(selected ? ImGuiCol_HeaderActive : ImGuiCol_Header));
            if (ImGui::InvisibleButton("##category", ImVec2(fullWidth, rowHeight)) && clicksAllowed)
                PropClickRow(store, row);
            const std::string caption = std::string(c.expanded ? "- " : "+ ") + c.name;
            draw->AddText(ImVec2(rowMin.x + style.FramePadding.x, rowMin.y + (rowHeight - ImGui::GetFontSize()) * 0.5f),
                          ImGui::GetColorU32(ImGuiCol_Text), caption.c_str());
        } else {
            const int index = rows[r].index;
            const PropStoredItem& item = store.items[static_cast<size_t>(index)];
            if (selected)
                draw->AddRectFilled(rowMin, ImVec2(rowMin.x + split, rowMax.y), ImGui::GetColorU32(ImGuiCol_Header));
            if (ImGui::InvisibleButton("##label", ImVec2(std::max(1.0f, split), rowHeight)) && clicksAllowed)
                PropClickRow(store, row);
            ImGui::PushClipRect(rowMin, ImVec2(rowMin.x + split - 2, rowMax.y), true);
            draw->AddText(ImVec2(rowMin.x + style.FramePadding.x + 10,
                                 rowMin.y + (rowHeight - ImGui::GetFontSize()) * 0.5f),
                          ImGui::GetColorU32(ImGuiCol_Text), item.label.c_str());
            ImGui::PopClipRect();
            // A click on the value column selects the row as well (not on a check's box).
            const ImVec2 valueMin(rowMin.x + split, rowMin.y);
            const bool editing = store.editorOpen && store.editItem == index;
            if (!editing && item.type != PropTypeCheck) {
                ImGui::SetCursorScreenPos(valueMin);
                if (ImGui::InvisibleButton("##value", ImVec2(std::max(1.0f, fullWidth - split), rowHeight)) &&
                    clicksAllowed)
                    PropClickRow(store, row);
            }
            DrawValue(store, view, row, index, valueMin, fullWidth - split, rowHeight, clicksAllowed);
        }
        draw->AddLine(ImVec2(rowMin.x, rowMax.y - 1), ImVec2(rowMax.x, rowMax.y - 1),
                      ImGui::GetColorU32(ImGuiCol_Border));
        ImGui::PopID();
    }
    const float listBottom = origin.y + rowHeight * static_cast<float>(rows.size());
    draw->AddLine(ImVec2(origin.x + split, origin.y), ImVec2(origin.x + split, listBottom),
                  ImGui::GetColorU32(ImGuiCol_Border));
    ImGui::SetCursorScreenPos(ImVec2(origin.x, listBottom));
    ImGui::Dummy(ImVec2(1, 1));

    // Keys on the list (not while an editor has the keyboard): arrows expand and
    // collapse categories and move the selection, Enter and Space toggle checks.
    if (ImGui::IsWindowFocused() && !ImGui::IsAnyItemActive()) {
        const auto pressed = [](ImGuiKey key) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key)); };
        if (pressed(ImGuiKey_RightArrow)) PropArrowKey(store, true);
        if (pressed(ImGuiKey_LeftArrow)) PropArrowKey(store, false);
        const int count = static_cast<int>(PropVisibleRows(store).size());
        if (pressed(ImGuiKey_DownArrow) && store.selectedRow + 1 < count) PropClickRow(store, store.selectedRow + 1);
        if (pressed(ImGuiKey_UpArrow) && store.selectedRow > 0) PropClickRow(store, store.selectedRow - 1);
        const int selectedItem = PropSelectedItem(store);
        if (selectedItem >= 0 && (pressed(ImGuiKey_Space) || pressed(ImGuiKey_Enter)))
            PropToggleCheck(store, selectedItem);
    }
    ImGui::EndChild();
}
