// GLFW key codes to the program's key codes (platform/console_keys.h).
#include "vis/key_map.h"

#include <GLFW/glfw3.h>

#include "platform/console_keys.h"

int GlfwKeyToVirtualKey(int key) {
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z) return 'A' + (key - GLFW_KEY_A);
    if (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) return '0' + (key - GLFW_KEY_0);
    if (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_9) return plat::VkNumpad0 + (key - GLFW_KEY_KP_0);
    if (key == GLFW_KEY_F1) return plat::VkF1Slot;
    if (key >= GLFW_KEY_F2 && key <= GLFW_KEY_F12) return plat::VkF1 + 1 + (key - GLFW_KEY_F2);
    switch (key) {
        case GLFW_KEY_ESCAPE: return plat::VkEscape;
        case GLFW_KEY_SPACE: return plat::VkSpace;
        case GLFW_KEY_ENTER: case GLFW_KEY_KP_ENTER: return plat::VkReturn;
        case GLFW_KEY_TAB: return plat::VkTab;
        case GLFW_KEY_BACKSPACE: return plat::VkBack;
        case GLFW_KEY_PAGE_UP: return plat::VkPageUp;
        case GLFW_KEY_PAGE_DOWN: return plat::VkPageDown;
        case GLFW_KEY_END: return plat::VkEnd;
        case GLFW_KEY_HOME: return plat::VkHome;
        case GLFW_KEY_LEFT: return plat::VkLeft;
        case GLFW_KEY_UP: return plat::VkUp;
        case GLFW_KEY_RIGHT: return plat::VkRight;
        case GLFW_KEY_DOWN: return plat::VkDown;
        case GLFW_KEY_INSERT: return plat::VkInsert;
        case GLFW_KEY_DELETE: return plat::VkDelete;
        case GLFW_KEY_LEFT_SHIFT: case GLFW_KEY_RIGHT_SHIFT: return plat::VkShift;
        case GLFW_KEY_LEFT_CONTROL: case GLFW_KEY_RIGHT_CONTROL: return 17;
        case GLFW_KEY_LEFT_ALT: case GLFW_KEY_RIGHT_ALT: return 18;
        case GLFW_KEY_KP_MULTIPLY: return 106;
        case GLFW_KEY_KP_ADD: return 107;
        case GLFW_KEY_KP_SUBTRACT: return 109;
        case GLFW_KEY_KP_DECIMAL: return 110;
        case GLFW_KEY_KP_DIVIDE: return 111;
        default: return -1;
    }
}
