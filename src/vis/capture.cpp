// Frame capture.
//
// Sections: the context, capture, JPEG encoding.
#include "vis/capture.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>

#include "io/app_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "vis/view_state.h"

// ---- The context ------------------------------------------------------------------------------------
CaptureContext* CreateCaptureContext(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    CaptureContext* context = new (std::nothrow) CaptureContext{};
    if (!context) return nullptr;
    context->modulePath = plat::ProgramFolder();
    context->FrameNumber = 0;
    context->MimeType = "image/jpeg";
    context->Width = width;
    context->Height = height;
    context->Pixels = static_cast<uint8_t*>(
        plat::AlignedAllocZeroed(static_cast<size_t>(width) * static_cast<size_t>(height) * 4));
    if (!context->Pixels) {
        delete context;
        return nullptr;
    }
    return context;
}

void ReleaseCaptureContext(CaptureContext* context) {
    if (!context) return;
    plat::AlignedFree(context->Pixels);
    delete context;
}

// ---- Capture ---------------------------------------------------------------------------------------
std::string CaptureFileName(const char* folder, uint32_t frameNumber) {
    std::string name = folder ? folder : "";
    if (!name.empty() && name.back() != '/') name += '/';
    name += "frame";
    name += std::to_string(frameNumber);
    name += ".jpg";
    return name;
}

uint32_t ClaimFrameNumber(const char* folder, uint32_t from) {
    for (uint32_t n = from; n - from < 1000000; ++n) {
        const int fd = open(CaptureFileName(folder, n).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return n;
        }
        if (errno != EEXIST) break;
    }
    return from;
}

bool SaveJpeg(CaptureContext* context, int32_t width, int32_t height, const char* fileName, int quality,
              int* writeError, const char* comment) {
    if (writeError) *writeError = 0;
    glFlush();
    glFinish();
    if (width <= 0 || height <= 0) return false;
    if (width != context->Width || height != context->Height || !context->Pixels) {
        plat::AlignedFree(context->Pixels);
        context->Width = width;
        context->Height = height;
        context->Pixels = static_cast<uint8_t*>(
            plat::AlignedAllocZeroed(static_cast<size_t>(width) * static_cast<size_t>(height) * 4));
        if (!context->Pixels) return false;
    }
    // The back buffer: GLX leaves it undefined after a swap, and the front buffer
    // reads black on Mesa, so this runs after drawing and before the swap.
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, context->Pixels);
    int error = 0;
    if (!WriteJpegFile(fileName, context->Pixels, width, height, quality, &error, comment) && writeError)
        *writeError = error;
    return true;  // a file that could not be written does not stop capture
}

bool CaptureFrame(AppState& state, CaptureContext* context, int32_t width, int32_t height) {
    if (!context) return false;
    const uint32_t now = plat::TimeMs();
    const bool newRun = now - context->lastCaptureMs >= 1000;
    if (newRun) context->writeFailureReported = false;
    context->lastCaptureMs = now;

    const char* folder = state.options.captureFolder;
    context->FrameNumber = ClaimFrameNumber(folder, context->FrameNumber);
    const std::string fileName = CaptureFileName(folder, context->FrameNumber);
    if (newRun) {
        LogMessage(LogInfo, 0, "Capturing frames to \"%s\" and on.", fileName.c_str());
        PostViewNotice(("Capturing frames to " + fileName).c_str(), now);
    }
    int quality = static_cast<int>(state.options.captureQuality);
    int writeError = 0;
    char comment[32];
    std::snprintf(comment, sizeof comment, "StepCounter=%u", state.stepCounter.load());
    const bool ok = SaveJpeg(context, width, height, fileName.c_str(), quality, &writeError, comment);
    ++context->FrameNumber;
    if (writeError != 0 && !context->writeFailureReported) {
        // Without this the frames would silently go nowhere.
        context->writeFailureReported = true;
        LogMessage(LogWarning, 0, "Cannot write captured frames to folder \"%s\": %s", folder,
                   plat::ErrorText(writeError).c_str());
    }
    return ok;
}

// ---- JPEG encoding -----------------------------------------------------------------------------------
namespace {

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    std::longjmp(error->jump, 1);
}

// The encoding itself, apart so that no object with a destructor lives across the
// longjmp of libjpeg's error exit.
bool Encode(std::FILE* file, const uint8_t* pixels, int32_t width, int32_t height, int quality,
            const char* comment) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (comment != nullptr)
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment),
                          static_cast<unsigned int>(std::strlen(comment)));
    const size_t stride = static_cast<size_t>(width) * 4;
    while (info.next_scanline < info.image_height) {
        // GL rows run bottom-up: the image's first (top) row is the buffer's last.
        const size_t row = static_cast<size_t>(height) - 1 - info.next_scanline;
        JSAMPROW line = const_cast<JSAMPROW>(pixels + row * stride);
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool WriteJpegFile(const char* fileName, const uint8_t* pixels, int32_t width, int32_t height, int quality,
                   int* error, const char* comment) {
    if (error) *error = 0;
    if (width <= 0 || height <= 0 || !pixels) {
        if (error) *error = EINVAL;
        return false;
    }
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) {
        if (error) *error = errno;
        return false;
    }
    const bool encoded = Encode(file, pixels, width, height, quality, comment);
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const int saved = errno;
    const bool closed = std::fclose(file) == 0;
    if (!encoded || !flushed || !closed) {
        if (error) *error = saved != 0 ? saved : EIO;
        return false;
    }
    return true;
}
