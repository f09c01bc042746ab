// GLFW key codes to the program's key codes (the slots of the key tables).
#pragma once

#include <cstdint>

// The table slot for a GLFW key: letters 65-90, digits 48-57, Esc 27, Space 32,
// Page Up 33, Page Down 34, End 35, Home 36, arrows 37-40, keypad 0-9 96-105,
// F2-F12 113-123, F1 254 (never 112, the lower-case alias of P), Shift 16.
// Returns -1 for keys without a slot.
int GlfwKeyToVirtualKey(int glfwKey);
