// A GLFW window with its own Dear ImGui context.
//
// Sections: context-switching callbacks, creation and teardown, one frame.
#include "ui/imgui_window.h"

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl2.h>

namespace {

// ---- Context-switching callbacks -------------------------------------------------------------
// The back-end's callbacks use the current ImGui context; each of ours makes the
// window's own context current for the call and restores the previous one.
ImGuiWindow* Owner(GLFWwindow* window) { return static_cast<ImGuiWindow*>(glfwGetWindowUserPointer(window)); }

class ContextSwitch {
public:
    explicit ContextSwitch(ImGuiWindow* w) : previous_(ImGui::GetCurrentContext()) {
        if (w && w->context) ImGui::SetCurrentContext(w->context);
    }
    ~ContextSwitch() { ImGui::SetCurrentContext(previous_); }

private:
    ImGuiContext* previous_;
};

void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    if (w->keyHook && w->keyHook(w, key, scancode, action, mods)) return;
    if (key >= 0 && key < kImGuiWindowKeySlots) {
        if (action == GLFW_PRESS) w->pressedSinceFrame[key] = true;
        if (action == GLFW_RELEASE && w->pressedSinceFrame[key] && w->heldCount < kImGuiWindowHeldKeys) {
            w->held[w->heldCount++] = HeldKeyRelease{key, scancode, mods};
            return;
        }
    }
    ImGui_ImplGlfw_KeyCallback(window, key, scancode, action, mods);
}

void OnChar(GLFWwindow* window, unsigned int c) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    ImGui_ImplGlfw_CharCallback(window, c);
}

void OnMouseButton(GLFWwindow* window, int button, int action, int mods) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    ImGui_ImplGlfw_MouseButtonCallback(window, button, action, mods);
}

void OnScroll(GLFWwindow* window, double x, double y) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    ImGui_ImplGlfw_ScrollCallback(window, x, y);
}

void OnCursorEnter(GLFWwindow* window, int entered) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    ImGui_ImplGlfw_CursorEnterCallback(window, entered);
}

void OnFocus(GLFWwindow* window, int focused) {
    ImGuiWindow* w = Owner(window);
    if (!w) return;
    ContextSwitch scope(w);
    ImGui_ImplGlfw_WindowFocusCallback(window, focused);
}

void OnClose(GLFWwindow* window) {
    ImGuiWindow* w = Owner(window);
    glfwSetWindowShouldClose(window, GLFW_FALSE);  // the owner decides
    if (w && w->closeHook) w->closeHook(w);
}

}  // namespace

// ---- Creation and teardown ----------------------------------------------------------------------
bool CreateImGuiWindow(ImGuiWindow& w, const ImGuiWindowOptions& options) {
    GLFWwindow* previousGl = glfwGetCurrentContext();
    ImGuiContext* previousImGui = ImGui::GetCurrentContext();

    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    glfwWindowHint(GLFW_VISIBLE, options.visible ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, options.resizable ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_FLOATING, options.floating ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_FOCUS_ON_SHOW, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(options.width, options.height, options.title, nullptr, nullptr);
    glfwDefaultWindowHints();
    if (!window) return false;

    w.window = window;
    glfwSetWindowUserPointer(window, &w);
    glfwMakeContextCurrent(window);
    glfwSwapInterval(0);  // the main loop paces itself; never wait for a vertical sync here

    w.context = ImGui::CreateContext();
    ImGui::SetCurrentContext(w.context);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // nothing is written to disk
    io.LogFilename = nullptr;
    ImGui::StyleColorsLight();
    ImGui_ImplGlfw_InitForOpenGL(window, false);
    ImGui_ImplOpenGL2_Init();

    glfwSetKeyCallback(window, OnKey);
    glfwSetCharCallback(window, OnChar);
    glfwSetMouseButtonCallback(window, OnMouseButton);
    glfwSetScrollCallback(window, OnScroll);
    glfwSetCursorEnterCallback(window, OnCursorEnter);
    glfwSetWindowFocusCallback(window, OnFocus);
    glfwSetWindowCloseCallback(window, OnClose);

    ImGui::SetCurrentContext(previousImGui);
    glfwMakeContextCurrent(previousGl);
    return true;
}

void DestroyImGuiWindow(ImGuiWindow& w) {
    if (!w.window) return;
    GLFWwindow* previousGl = glfwGetCurrentContext();
    ImGuiContext* previousImGui = ImGui::GetCurrentContext();
    glfwMakeContextCurrent(w.window);
    ImGui::SetCurrentContext(w.context);
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext(w.context);
    ImGui::SetCurrentContext(previousImGui == w.context ? nullptr : previousImGui);
    glfwMakeContextCurrent(previousGl == w.window ? nullptr : previousGl);
    glfwSetWindowUserPointer(w.window, nullptr);
    glfwDestroyWindow(w.window);
    w.window = nullptr;
    w.context = nullptr;
}

// ---- One frame -----------------------------------------------------------------------------------
ImGuiFrameScope BeginImGuiFrame(ImGuiWindow& w) {
    ImGuiFrameScope scope{glfwGetCurrentContext(), ImGui::GetCurrentContext()};
    glfwMakeContextCurrent(w.window);
    ImGui::SetCurrentContext(w.context);
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    return scope;
}

void EndImGuiFrame(ImGuiWindow& w, const ImGuiFrameScope& scope, float clearR, float clearG, float clearB) {
    ImGui::Render();
    int width = 0, height = 0;
    glfwGetFramebufferSize(w.window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(clearR, clearG, clearB, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(w.window);
    // The frame has seen every press: the held releases reach ImGui now.
    for (bool& pressed : w.pressedSinceFrame) pressed = false;
    for (int i = 0; i < w.heldCount; ++i)
        ImGui_ImplGlfw_KeyCallback(w.window, w.held[i].key, w.held[i].scancode, GLFW_RELEASE, w.held[i].mods);
    w.heldCount = 0;
    ImGui::SetCurrentContext(scope.previousImGui);
    glfwMakeContextCurrent(scope.previousGl);
}
