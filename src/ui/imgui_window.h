// A GLFW window with its own Dear ImGui context, safe beside other such windows.
//
// Dear ImGui 1.86's GLFW back-end acts on whichever ImGui context is current, so
// with two ImGui windows the text typed in one would land in the other. Each
// ImGuiWindow therefore installs its own callbacks, which make the window's
// context current, forward to the back-end and restore the previous context.
// Main thread only (GLFW's rule for windows and events).
//
// Sections: the record, creation and teardown, one frame.
#pragma once

struct GLFWwindow;
struct ImGuiContext;

// ---- The record ------------------------------------------------------------------------------
// ImGui 1.86 keeps only a key-down table: a key pressed and released between two
// frames (a quick tap, or xdotool) would never be seen. A release that follows a
// press before the next frame is therefore held back until that frame has run.
inline constexpr int kImGuiWindowKeySlots = 512;  // above GLFW_KEY_LAST
inline constexpr int kImGuiWindowHeldKeys = 16;
struct HeldKeyRelease {
    int key, scancode, mods;
};

struct ImGuiWindow {
    GLFWwindow* window;
    ImGuiContext* context;
    // Called with the window's ImGui context current, before the back-end sees the
    // key; return true to keep the key from ImGui.
    bool (*keyHook)(ImGuiWindow* window, int key, int scancode, int action, int mods);
    // Called when the window's close button is pressed (the window stays open
    // unless the hook destroys or hides it).
    void (*closeHook)(ImGuiWindow* window);
    void* user;  // owner's record
    bool pressedSinceFrame[kImGuiWindowKeySlots];
    HeldKeyRelease held[kImGuiWindowHeldKeys];
    int heldCount;
};

struct ImGuiWindowOptions {
    const char* title;
    int width, height;
    bool floating;   // always on top (no effect without a window manager)
    bool resizable;
    bool visible;    // shown at creation
};

// ---- Creation and teardown ----------------------------------------------------------------
// glfwInit must have succeeded. Creates the window (OpenGL 2 context), its ImGui
// context (no ini file) and the GLFW and OpenGL2 back-ends. False when the window
// cannot be created (the record is then left empty).
bool CreateImGuiWindow(ImGuiWindow& w, const ImGuiWindowOptions& options);
void DestroyImGuiWindow(ImGuiWindow& w);

// ---- One frame ---------------------------------------------------------------------------------
// Makes the window's GL and ImGui contexts current and starts an ImGui frame; the
// previous contexts are kept for EndImGuiFrame.
struct ImGuiFrameScope {
    GLFWwindow* previousGl;
    ImGuiContext* previousImGui;
};
ImGuiFrameScope BeginImGuiFrame(ImGuiWindow& w);
// Renders, swaps (swap interval 0), hands ImGui the key releases held back during
// the frame and restores the previous contexts.
void EndImGuiFrame(ImGuiWindow& w, const ImGuiFrameScope& scope, float clearR = 0.94f,
                   float clearG = 0.94f, float clearB = 0.94f);
