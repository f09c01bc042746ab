// Frame capture: every frame drawn while capture is on is read back from the
// window's back buffer and written as <folder>/frame<N>.jpg at the configured JPEG
// quality; N counts up for the life of the process and skips the numbers whose
// files exist, so no earlier frame is replaced.
//
// Sections: the context, capture, JPEG encoding.
#pragma once

#include <cstdint>
#include <string>

struct AppState;

// ---- The context -----------------------------------------------------------------------------
struct CaptureContext {
    std::string modulePath;  // the program's own path (kept for reference)
    uint32_t FrameNumber;    // number of the next file; never reset
    const char* MimeType;    // "image/jpeg"
    int32_t Width, Height;   // size of Pixels
    uint8_t* Pixels;         // Width * Height * 4 bytes, BGRA rows bottom-up as GL delivers them
    // A folder that cannot be written is reported once per capture run; a run is a
    // series of frames without a pause of a second or more between them.
    uint32_t lastCaptureMs;
    bool writeFailureReported;
};

// Null when memory is short (capture is then unavailable).
CaptureContext* CreateCaptureContext(int32_t width, int32_t height);
void ReleaseCaptureContext(CaptureContext* context);

// ---- Capture (render thread, window context current, before the swap) ---------------------------------
// Writes the next frame file from the back buffer and advances FrameNumber (also
// when the file could not be written). False only when the frame could not be
// encoded at all (no memory); the caller then stops capture.
bool CaptureFrame(AppState& state, CaptureContext* context, int32_t width, int32_t height);
// Reads the back buffer (w x h) and writes it to `fileName`. True unless the read
// buffer could not be allocated; `writeError` receives errno when the file could
// not be written (0 otherwise).
// `comment` (optional) goes into the file's comment marker.
bool SaveJpeg(CaptureContext* context, int32_t width, int32_t height, const char* fileName, int quality,
              int* writeError = nullptr, const char* comment = nullptr);
// "<folder>/frame<N>.jpg"
std::string CaptureFileName(const char* folder, uint32_t frameNumber);
// The first frame number from `from` on whose file does not exist, claimed (made
// empty with O_EXCL) so that frames of an earlier run or of another process are
// never overwritten. When the folder cannot be written, `from` (the write then
// reports why).
uint32_t ClaimFrameNumber(const char* folder, uint32_t from);

// ---- JPEG encoding (no GL) --------------------------------------------------------------------------
// Encodes BGRA (or BGRX) rows given bottom-up so that the image's top row is the
// last row of `pixels`. Quality 0..100 goes to libjpeg unchanged (it treats 0 as
// 1). A comment, when given, is stored in a comment marker (captured frames carry
// "StepCounter=N", so a series can be checked for one step per frame). False with
// errno in `error` when the file cannot be opened or written.
bool WriteJpegFile(const char* fileName, const uint8_t* pixels, int32_t width, int32_t height, int quality,
                   int* error, const char* comment = nullptr);
