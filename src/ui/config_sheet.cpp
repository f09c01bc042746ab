// The configuration sheet window.
//
// Sections:
//   1. Window plumbing: one GLFW window with its own ImGui context
//   2. Simulation page
//   3. Neurons, Visualization and Capture pages
//   4. ShowConfigSheet: backup, modal loop, OK / Cancel
//
// Dear ImGui 1.86's GLFW back-end acts on whichever ImGui context is current, so
// the back-end's own callbacks are not installed: ours make the sheet's context
// current, forward the event, and put the previous context back. The window keeps
// its ImGui context in the GLFW user pointer.
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

#include "app/shell.h"
#include "engine/app_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "ui/config_pages.h"
#include "ui/property_grid.h"
#include "ui/toolbox.h"

void (*ConfigSheetPumpHook)(AppState& state) = nullptr;
void (*ConfigSheetClosedHook)(AppState& state, bool applied) = nullptr;

namespace {

bool SheetOpen = false;
constexpr int kSheetWidth = 820;
constexpr int kSheetHeight = 560;
constexpr int kNeuronsSplit = 450;
constexpr int kNeuronsRowHeight = 24;

// ---- 1. Window plumbing ---------------------------------------------------------------------------

// Makes the window's ImGui context current for the duration of one callback.
struct ContextScope {
    ImGuiContext* previous;
    explicit ContextScope(GLFWwindow* window) : previous(ImGui::GetCurrentContext()) {
        ImGui::SetCurrentContext(static_cast<ImGuiContext*>(glfwGetWindowUserPointer(window)));
    }
    ~ContextScope() { ImGui::SetCurrentContext(previous); }
};

// ImGui 1.86 keeps only a key-down table: a key pressed and released between two
// frames (a quick tap, or xdotool) would never be seen. A release that follows a
// press within the same pass is therefore held back until a frame has run.
struct HeldRelease {
    int key, scancode, mods;
};
bool PressedThisPass[GLFW_KEY_LAST + 1];
std::vector<HeldRelease> HeldReleases;

void OnKey(GLFWwindow* w, int key, int scancode, int action, int mods) {
    ContextScope scope(w);
    if (key >= 0 && key <= GLFW_KEY_LAST) {
        if (action == GLFW_PRESS) PressedThisPass[key] = true;
        if (action == GLFW_RELEASE && PressedThisPass[key]) {
            HeldReleases.push_back(HeldRelease{key, scancode, mods});
            return;
        }
    }
    ImGui_ImplGlfw_KeyCallback(w, key, scancode, action, mods);
}

// After a frame: the held releases reach ImGui, and every key counts as seen.
void ReleaseHeldKeys(GLFWwindow* w) {
    std::fill(std::begin(PressedThisPass), std::end(PressedThisPass), false);
    for (const HeldRelease& r : HeldReleases) ImGui_ImplGlfw_KeyCallback(w, r.key, r.scancode, GLFW_RELEASE, r.mods);
    HeldReleases.clear();
}
void OnChar(GLFWwindow* w, unsigned int c) {
    ContextScope scope(w);
    ImGui_ImplGlfw_CharCallback(w, c);
}
void OnMouseButton(GLFWwindow* w, int button, int action, int mods) {
    ContextScope scope(w);
    ImGui_ImplGlfw_MouseButtonCallback(w, button, action, mods);
}
void OnScroll(GLFWwindow* w, double x, double y) {
    ContextScope scope(w);
    ImGui_ImplGlfw_ScrollCallback(w, x, y);
}
void OnCursorEnter(GLFWwindow* w, int entered) {
    ContextScope scope(w);
    ImGui_ImplGlfw_CursorEnterCallback(w, entered);
}
void OnFocus(GLFWwindow* w, int focused) {
    ContextScope scope(w);
    ImGui_ImplGlfw_WindowFocusCallback(w, focused);
}

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
    const char* current = page.presetSelection >= 0 ? GeometryPresets[page.presetSelection].label : "";
    if (ImGui::BeginCombo("##preset", current, ImGuiComboFlags_HeightLargest)) {
        for (int i = 0; i < kPresetCount; ++i)
            if (ImGui::Selectable(GeometryPresets[i].label, i == page.presetSelection)) SimPageChoosePreset(page, state, i);
        ImGui::EndCombo();
    }
    bool checked;
    if (Check(kReentrantCaption, state.params.reentrantLoops, checked)) SimPageReentrantLoops(state, checked);
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
    ImGui::BeginDisabled();  // no configuration file format exists
    ImGui::Button("Save Simulation Config");
    ImGui::SameLine();
    ImGui::Button("Load Simulation Config");
    ImGui::EndDisabled();
}

// ---- 3. Neurons, Visualization and Capture pages ------------------------------------------------------

void DrawVisualizationPage(Sheet& sheet) {
    AppOptions& options = sheet.state->options;
    for (const VisualizationFlag& f : VisualizationFlags) {
        bool checked;
        ImGui::PushID(f.id);
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
        OpenFileBrowser(sheet.captureBrowser, kCaptureBrowseTitle, state.options.captureFolder, true);
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

GLFWwindow* CreateSheetWindow(GLFWwindow* owner) {
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_FLOATING, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(kSheetWidth, kSheetHeight, "Vellicor Configuration", nullptr, nullptr);
    glfwDefaultWindowHints();
    if (!window) return nullptr;
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
    return window;
}

}  // namespace

bool ConfigSheetOpen() { return SheetOpen; }

void InstallConfigSheet() {
    // The toolbox draws its slider and label from NeuronAlpha every frame, so a value
    // that Cancel restored shows at once.
    ShowConfigSheetHook = [](AppState& state, Toolbox* owner) { ShowConfigSheetBeside(state, ToolboxGlfwWindow(owner)); };
}

bool ShowConfigSheet(AppState& state) { return ShowConfigSheetBeside(state, glfwGetCurrentContext()); }

bool ShowConfigSheetBeside(AppState& state, GLFWwindow* owner) {
    if (SheetOpen) return false;
    GLFWwindow* previousWindow = glfwGetCurrentContext();
    ImGuiContext* previousContext = ImGui::GetCurrentContext();

    GLFWwindow* window = CreateSheetWindow(owner);
    if (!window) {
        const char* description = nullptr;
        glfwGetError(&description);
        LogMessage(LogError, 0, "Failed to create Property Sheet. %s", description ? description : "");
        return false;
    }
    SheetOpen = true;
    glfwMakeContextCurrent(window);
    glfwSwapInterval(0);
    ImGuiContext* context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    ImGui::GetIO().IniFilename = nullptr;
    ImGui::StyleColorsLight();
    LoadSheetFont();
    glfwSetWindowUserPointer(window, context);
    ImGui_ImplGlfw_InitForOpenGL(window, false);
    ImGui_ImplOpenGL2_Init();
    glfwSetKeyCallback(window, OnKey);
    glfwSetCharCallback(window, OnChar);
    glfwSetMouseButtonCallback(window, OnMouseButton);
    glfwSetScrollCallback(window, OnScroll);
    glfwSetCursorEnterCallback(window, OnCursorEnter);
    glfwSetWindowFocusCallback(window, OnFocus);

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
        if (ConfigSheetPumpHook) ConfigSheetPumpHook(state);
        if (RenderStop.load() || glfwWindowShouldClose(window)) {
            outcome = -1;
            break;
        }
        glfwMakeContextCurrent(window);
        ImGui::SetCurrentContext(context);
        ImGui_ImplOpenGL2_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        outcome = DrawSheet(*sheet);
        ImGui::Render();
        int width = 0, height = 0;
        glfwGetFramebufferSize(window, &width, &height);
        glViewport(0, 0, width, height);
        glClearColor(0.94f, 0.94f, 0.94f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
        glfwSwapBuffers(window);
        ReleaseHeldKeys(window);
    }
    HeldReleases.clear();

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

    glfwMakeContextCurrent(window);
    ImGui::SetCurrentContext(context);
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext(context);
    glfwDestroyWindow(window);
    glfwMakeContextCurrent(previousWindow);
    ImGui::SetCurrentContext(previousContext);
    SheetOpen = false;
    if (ConfigSheetClosedHook) ConfigSheetClosedHook(state, outcome == 1);
    return outcome == 1;
}
