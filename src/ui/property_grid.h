// The property grid drawn with Dear ImGui over a PropStore, and the small file and
// folder browser of the configuration sheet.
//
// Sections:
//   1. File and folder browser (listing without drawing, and its popup)
//   2. The font file of a family (fontconfig)
//   3. The grid's drawing state and its draw call
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/property_store.h"

// ---- 1. File and folder browser -------------------------------------------------------------

struct BrowserEntry {
    std::string name;
    bool folder;
};
// The entries of a folder: ".." first (unless at the root), then folders, then (with
// includeFiles) the files whose names end in `extension` (every file when it is
// empty), each group sorted by name; hidden entries are left out. An unreadable
// folder gives only "..".
std::vector<BrowserEntry> ListFolder(const std::string& folder, bool includeFiles,
                                     const std::string& extension = "");

enum FileBrowserMode : uint8_t {
    FileBrowserFolder,  // choose a folder
    FileBrowserOpen,    // choose an existing file
    FileBrowserSave,    // choose a file name in an existing folder
};

struct FileBrowser {
    std::string title;
    std::string folder;     // the folder shown
    std::string selected;   // the chosen file (open and save modes)
    std::string pathText;   // the path box: the folder, or the folder and the file
    std::string extension;  // the files listed (".toml"); saving adds it to a typed name without one
    std::string error;      // why the last typed path was not taken
    FileBrowserMode mode = FileBrowserFolder;
    bool openRequested = false;
    std::vector<BrowserEntry> entries;
    std::string result;     // the confirmed path
};
// Starts the browser at `start` (its folder when it is a file, keeping the file's
// name in the path box; the working folder when it does not exist). The popup opens
// on the next DrawFileBrowser.
void OpenFileBrowser(FileBrowser& browser, const std::string& title, const std::string& start,
                     FileBrowserMode mode);
// The path box was confirmed (Enter or the confirm button). A folder is shown; a
// path the mode accepts becomes `result` (returns 1); anything else sets `error`
// (returns 0). Relative paths are taken from the folder shown.
int BrowserSubmitPath(FileBrowser& browser, const std::string& typed);
// The path box was edited: the last error no longer applies.
void BrowserEditPath(FileBrowser& browser, const std::string& text);
// A click on an entry: a folder or file is chosen (its path in the path box); a
// double click opens a folder, or confirms a file.
int BrowserClickEntry(FileBrowser& browser, const BrowserEntry& entry, bool doubleClick);
// Draws the browser's modal popup: 1 when a path was confirmed (in `result`),
// -1 when cancelled, 0 while it stays open or is closed.
int DrawFileBrowser(FileBrowser& browser);

// ---- 2. Font file of a family ------------------------------------------------------------------

// The file of the best match for a family (empty when fontconfig finds none).
std::string FontFileForFamily(const char* family);

// ---- 3. The grid -------------------------------------------------------------------------------

struct PropGridView {
    bool focusEditor = false;    // give the editor the keyboard focus on its first frame
    int focusedItem = -1;        // item whose editor got the focus
    bool tabPressed = false;     // set by the editor's completion callback
    int32_t editorType = 0;      // type of the open text editor (its character filter)
};

// Draws the grid in a child region of the given size (0: the rest of the window).
void DrawPropertyGrid(PropStore& store, PropGridView& view, const char* id, float width, float height);
