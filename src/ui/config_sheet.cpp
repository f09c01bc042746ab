// The configuration sheet window.
//
// Sections:
//   1. Window plumbing
//   2. Simulation page
//   3. Neurons, Visualization and Capture pages
//   4. ShowConfigSheet: backup, event loop, OK / Cancel
#include "ui/config_sheet.h"

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl2.h>
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "io/app_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "ui/config_pages.h"
#include "ui/imgui_window.h"
#include "ui/property_grid.h"

namespace {

// One modal sheet at a time on the main thread; the toolbox asks whether it is open.
bool SheetOpen = false;
// The configuration file last saved or loaded, for the next Save or Load (also in a
// later opening of the sheet).
std::string LastConfigPath;
constexpr int kSheetWidth = 820;
constexpr int kSheetHeight = 560;
constexpr int kNeuronsSplit = 450;
constexpr int kNeuronsRowHeight = 24;

// ---- 1. Window plumbing ---------------------------------------------------------------------------
// The sheet is an ImGuiWindow (its own ImGui context and context-switching callbacks).

void OnSheetClose(ImGuiWindow* w) { *static_cast<bool*>(w->user) = true; }

// An outline font with the Greek letters of the labels (τ); the built-in font has none.
void LoadSheetFont() {
    static const ImWchar ranges[] = {0x0020, 0x00FF, 0x0370, 0x03FF, 0x2010, 0x2027, 0};
    const std::string file = FontFileForFamily("Liberation Sans");
    ImGuiIO& io = ImGui::GetIO();
    if (!file.empty() && io.Fonts->AddFontFromFileTTF(file.c_str(), 15.0f, nullptr, ranges)) return;
    io.Fonts->AddFontDefault();
}

// ---- 2. Simulation page ------------------------------------------------------------------------------

struct Sheet {
    AppState* state;
    ConfigBackup backup;
    SimulationPage simulation;
    NeuronsPage neurons;
    PropStore grid;
    PropGridView gridView;
    FileBrowser captureBrowser;
    FileBrowser configBrowser;  // Save and Load Simulation Config
    bool configSaving = false;
    std::string configMessage;  // the outcome of the last save or load
};

// Up and down arrows in the worker edit step it like its spin buttons.
int WorkerEditCallback(ImGuiInputTextCallbackData* data) {
    if (data->EventFlag != ImGuiInputTextFlags_CallbackHistory) return 0;
    Sheet* sheet = static_cast<Sheet*>(data->UserData);
    std::snprintf(sheet->simulation.workerText, sizeof sheet->simulation.workerText, "%s", data->Buf);
    SimPageWorkerSpin(sheet->simulation, *sheet->state, data->EventKey == ImGuiKey_UpArrow);
    data->DeleteChars(0, data->BufTextLen);
    data->InsertChars(0, sheet->simulation.workerText);
    return 0;
}

bool Check(const char* caption, uint8_t value, bool& checked) {
    checked = value != 0;
    return ImGui::Checkbox(caption, &checked);
}

void DrawSimulationPage(Sheet& sheet) {
    AppState& state = *sheet.state;
    SimulationPage& page = sheet.simulation;
    ImGui::TextUnformatted("Simulation Geometry");
    ImGui::SetNextItemWidth(-1);
    const char* current = page.presetSelection >= 0 ? GeometryPresets[page.presetSelection].label
                          : page.customShape         ? page.customCaption
                                                     : "";
    if (ImGui::BeginCombo("##preset", current, ImGuiComboFlags_HeightLargest)) {
        for (int i = 0; i < kPresetCount; ++i)
            if (ImGui::Selectable(GeometryPresets[i].label, i == page.presetSelection)) SimPageChoosePreset(page, state, i);
        // A shape from a file, a switch or a checkpoint that no row makes: its own row.
        if (page.customShape && ImGui::Selectable(page.customCaption, page.presetSelection < 0))
            SimPageChooseCustom(page);
        ImGui::EndCombo();
    }
    bool checked;
    if (Check(kReentrantCaption, state.params.reentrantLoops, checked)) SimPageReentrantLoops(state, checked);
    int engine = state.params.engineMode == EngineEvent ? EngineEvent : EngineExact;
    ImGui::SetNextItemWidth(320);
    if (ImGui::Combo(kEngineCaption, &engine, kEngineModeLabels, IM_ARRAYSIZE(kEngineModeLabels)))
        SimPageEngineMode(state, engine);
    ImGui::Spacing();

    ImGui::BeginChild("threads", ImVec2(0, ImGui::GetFrameHeightWithSpacing() * 3 + 16), true);
    if (Check(kAutoManageCaption, state.params.autoManageThreads, checked)) SimPageAutoManage(page, state, checked);
    if (!page.workerControlsEnabled) ImGui::BeginDisabled();
    ImGui::SetNextItemWidth(80);
    if (ImGui::InputText("##workers", page.workerText, sizeof page.workerText, ImGuiInputTextFlags_CallbackHistory,
                         WorkerEditCallback, &sheet))
        SimPageWorkerEdited(page, state, false);
    if (ImGui::IsItemDeactivatedAfterEdit()) SimPageWorkerEdited(page, state, true);
    ImGui::SameLine(0, 2);
    if (ImGui::ArrowButton("##up", ImGuiDir_Up)) SimPageWorkerSpin(page, state, true);
    ImGui::SameLine(0, 2);
    if (ImGui::ArrowButton("##down", ImGuiDir_Down)) SimPageWorkerSpin(page, state, false);
    ImGui::SameLine();
    ImGui::TextUnformatted(kWorkerLabelCaption);
    if (!page.workerControlsEnabled) ImGui::EndDisabled();
    if (Check(kIdlePriorityCaption, state.params.idlePriority, checked)) SimPageIdlePriority(state, checked);
    ImGui::EndChild();

    ImGui::Spacing();
    if (ImGui::Button("Restore Defaults")) SimPageRestoreDefaults(page, state);
    ImGui::SameLine();
    const std::string start = LastConfigPath.empty() ? "vellicor.toml" : LastConfigPath;
    sheet.configBrowser.extension = ".toml";  // only parameter files are listed
    if (ImGui::Button("Save Simulation Config")) {
        OpenFileBrowser(sheet.configBrowser, "Save Simulation Config", start, FileBrowserSave);
        sheet.configSaving = true;
    }
    ImGui::SameLine();
    if (ImGui::Button("Load Simulation Config")) {
        OpenFileBrowser(sheet.configBrowser, "Load Simulation Config", start, FileBrowserOpen);
        sheet.configSaving = false;
    }
    if (DrawFileBrowser(sheet.configBrowser) == 1) {
        LastConfigPath = sheet.configBrowser.result;
        if (sheet.configSaving) {
            NeuronsPageApply(sheet.grid);  // a value still being typed is saved too
            sheet.configMessage = SimPageSaveConfig(page, state, LastConfigPath);
        } else {
            sheet.configMessage = SimPageLoadConfig(page, state, LastConfigPath);
            InitNeuronsPage(sheet.neurons, state, sheet.grid);
        }
    }
    if (!sheet.configMessage.empty()) ImGui::TextWrapped("%s", sheet.configMessage.c_str());
}

// ---- 3. Neurons, Visualization and Capture pages ------------------------------------------------------

void DrawVisualizationPage(Sheet& sheet) {
    AppOptions& options = sheet.state->options;
    for (const VisualizationFlag& f : VisualizationFlags) {
        bool checked;
        ImGui::PushID(f.caption);
        if (Check(f.caption, options.*f.field, checked))
            plat::AtomicStore(options.*f.field, static_cast<uint8_t>(checked ? 1 : 0));
        ImGui::PopID();
    }
}

void DrawCapturePage(Sheet& sheet) {
    AppState& state = *sheet.state;
    ImGui::TextUnformatted(kCaptureFolderCaption);
    ImGui::SetNextItemWidth(-80);
    ImGui::InputText("##folder", state.options.captureFolder, sizeof state.options.captureFolder,
                     ImGuiInputTextFlags_ReadOnly);
    ImGui::SameLine();
    if (ImGui::Button("Browse", ImVec2(-1, 0)))
        OpenFileBrowser(sheet.captureBrowser, kCaptureBrowseTitle, state.options.captureFolder, FileBrowserFolder);
    if (DrawFileBrowser(sheet.captureBrowser) == 1) CaptureSetFolder(state, sheet.captureBrowser.result.c_str());
    ImGui::Spacing();
    ImGui::TextUnformatted(kCaptureQualityCaption);
    int position = CaptureTrackbarPosition(state.options.captureQuality);
    ImGui::SetNextItemWidth(-80);
    if (ImGui::SliderInt("##quality", &position, 0, kCaptureTrackbarMax, ""))
        CaptureSetPosition(state, position);
    ImGui::SameLine();
    char label[32];
    FormatCaptureQuality(state.options.captureQuality, label);
    ImGui::TextUnformatted(label);
    ImGui::Spacing();
    ImGui::TextWrapped("%s", kCaptureNoteCaption);
}

// Draws one frame of the sheet; returns 1 for OK, -1 for Cancel, 0 otherwise.
int DrawSheet(Sheet& sheet) {
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    ImGui::Begin("##sheet", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    // Escape cancels the sheet unless an editor or a popup takes it.
    const bool escapeFree = !ImGui::IsAnyItemActive() && !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId);
    const bool escape = escapeFree && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape));
    const float buttonsHeight = ImGui::GetFrameHeightWithSpacing() + 8;
    ImGui::BeginChild("pages", ImVec2(0, -buttonsHeight), false);
    if (ImGui::BeginTabBar("tabs")) {
        if (ImGui::BeginTabItem("Simulation")) {
            DrawSimulationPage(sheet);
            ImGui::EndTabItem();
        }
        if (ImGui::BeginTabItem("Neurons")) {
            DrawPropertyGrid(sheet.grid, sheet.gridView, "grid", 0, 0);
            ImGui::EndTabItem();
        }
        if (ImGui::BeginTabItem("Visualization")) {
            DrawVisualizationPage(sheet);
            ImGui::EndTabItem();
        }
        if (ImGui::BeginTabItem("Capture")) {
            DrawCapturePage(sheet);
            ImGui::EndTabItem();
        }
        ImGui::EndTabBar();
    }
    ImGui::EndChild();
    ImGui::Separator();
    const float buttonWidth = 90;
    ImGui::SetCursorPosX(ImGui::GetWindowContentRegionMax().x - 2 * buttonWidth - ImGui::GetStyle().ItemSpacing.x);
    int outcome = 0;
    if (ImGui::Button("OK", ImVec2(buttonWidth, 0))) outcome = 1;
    ImGui::SameLine();
    if (ImGui::Button("Cancel", ImVec2(buttonWidth, 0)) || escape) outcome = -1;
    ImGui::End();
    return outcome;
}

// ---- 4. ShowConfigSheet --------------------------------------------------------------------------------

bool CreateSheetWindow(ImGuiWindow& sheetWindow, GLFWwindow* owner) {
    if (!CreateImGuiWindow(sheetWindow, ImGuiWindowOptions{"Vellicor Configuration", kSheetWidth,
                                                           kSheetHeight, true, false, false}))
        return false;
    GLFWwindow* window = sheetWindow.window;
    // Beside the owner (the toolbox) when there is one; windows otherwise open at (0, 0).
    if (owner) {
        int x = 0, y = 0, w = 0, h = 0;
        glfwGetWindowPos(owner, &x, &y);
        glfwGetWindowSize(owner, &w, &h);
        int left = x + w + 8, top = y;
        // Kept on the screen: left of the owner when it does not fit on its right.
        if (const GLFWvidmode* mode = glfwGetVideoMode(glfwGetPrimaryMonitor())) {
            if (left + kSheetWidth > mode->width) left = x - kSheetWidth - 8;
            if (left < 0) left = std::max(0, mode->width - kSheetWidth);
            if (top + kSheetHeight > mode->height) top = std::max(0, mode->height - kSheetHeight);
        }
        glfwSetWindowPos(window, left, top);
    }
    glfwShowWindow(window);
    return true;
}

}  // namespace

bool ConfigSheetOpen() { return SheetOpen; }

bool ShowConfigSheetBeside(AppState& state, GLFWwindow* owner, ConfigSheetHost& host) {
    if (SheetOpen) return false;
    ImGuiWindow sheetWindow{};
    bool closeClicked = false;
    if (!CreateSheetWindow(sheetWindow, owner)) {
        const char* description = nullptr;
        glfwGetError(&description);
        LogMessage(LogError, 0, "Unable to open the configuration window: %s",
                   description ? description : "no window system");
        return false;
    }
    SheetOpen = true;
    sheetWindow.user = &closeClicked;
    sheetWindow.closeHook = OnSheetClose;
    {
        ImGuiContext* previous = ImGui::GetCurrentContext();
        ImGui::SetCurrentContext(sheetWindow.context);
        LoadSheetFont();
        ImGui::SetCurrentContext(previous);
    }

    // The pages, built from the record; the backup is taken just before showing.
    Sheet* sheet = new Sheet();
    sheet->state = &state;
    sheet->backup = TakeConfigBackup(state);
    InitSimulationPage(sheet->simulation, state);
    InitNeuronsPage(sheet->neurons, state, sheet->grid);
    sheet->grid.splitX = kNeuronsSplit;
    PropSetRowHeight(sheet->grid, kNeuronsRowHeight);  // room for a frame of the 15 px font

    int outcome = 0;
    while (outcome == 0) {
        glfwWaitEventsTimeout(0.01);
        host.RunWindowKeys(state);
        if (host.ProgramEnding() || closeClicked) {
            outcome = -1;
            break;
        }
        const ImGuiFrameScope scope = BeginImGuiFrame(sheetWindow);
        outcome = DrawSheet(*sheet);
        EndImGuiFrame(sheetWindow, scope);
    }

    if (outcome == 1) {
        // OK: the Simulation page copies the preset row, the Neurons page commits an
        // edit still pending in its grid.
        SimPageApply(sheet->simulation, state);
        NeuronsPageApply(sheet->grid);
    } else {
        // Cancel restores every parameter and option; the lifecycle fields stay.
        RestoreConfigBackup(state, sheet->backup);
    }
    delete sheet;

    DestroyImGuiWindow(sheetWindow);
    SheetOpen = false;
    return outcome == 1;
}
