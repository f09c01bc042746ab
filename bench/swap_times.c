/* Preloaded into vellicor by bench/scene_fps.sh: wraps glfwSwapBuffers and appends
 * the CLOCK_MONOTONIC time of every swap (seconds) to the file named by
 * VELLICOR_SWAP_LOG, so the frame rate can be read from outside the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef struct GLFWwindow GLFWwindow;

void glfwSwapBuffers(GLFWwindow* window) {
    static void (*real)(GLFWwindow*) = NULL;
    static FILE* out = NULL;
    if (!real) real = (void (*)(GLFWwindow*))dlsym(RTLD_NEXT, "glfwSwapBuffers");
    real(window);
    if (!out) {
        const char* path = getenv("VELLICOR_SWAP_LOG");
        if (!path || !(out = fopen(path, "w"))) return;
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    fprintf(out, "%.6f\n", (double)t.tv_sec + (double)t.tv_nsec * 1e-9);
    fflush(out);
}
