// What a run reports to whoever started it: each exported frame as it is
// written or refused, and at the end what became of the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Why a file could not be broken into frames.
enum class BreakOutReason {
  None,
  CannotRead,             // the file cannot be read (`error` holds errno)
  NotRegularFile,         // a FIFO, a device: nothing a read could finish on
  Empty,                  // the file has no bytes
  BadSignature,           // it does not start with "GIF8"
  TruncatedHeader,        // shorter than the header
  TruncatedColorTable,    // cut short in the global colour table
  TruncatedExtension,     // cut short in an extension block
  TruncatedDescriptor,    // cut short in an image descriptor
  TruncatedLocalTable,    // cut short in a local colour table
  TruncatedImageData,     // cut short in an image's data sub-blocks
  NoTrailer,              // ends right after an image, without the trailer
  NoImage,                // holds no image at all
  TooLong,                // a position does not fit 32 bits
  NoPixels,               // a frame of zero width or height
  TooManyPixels,          // the frames together exceed the pixel budget
  TempFile,               // a temporary file cannot be made or written
  FrameUndecodable,       // the picture loader refuses a frame
  FirstImageUndecodable,  // the picture loader refuses the file itself
  CanvasRefused,          // the logical screen is too large for a canvas
  OutOfMemory,
  Interrupted,  // a stop was requested (a signal) before the frames were decoded
};

struct BreakOutFailure {
  BreakOutFailure() = default;
  BreakOutFailure(BreakOutReason r, std::int64_t at = -1, std::int64_t fileLength = 0,
                  std::int64_t frameNumber = 0, int errorNumber = 0, std::string where = {})
      : reason(r),
        byte(at),
        length(fileLength),
        frame(frameNumber),
        error(errorNumber),
        place(std::move(where)) {}
  BreakOutReason reason = BreakOutReason::None;
  std::int64_t byte = -1;   // offset from 0 where it applies, else -1
  std::int64_t length = 0;  // the file's length in bytes
  std::int64_t frame = 0;   // frame number from 1 where it applies, else 0
  int error = 0;            // errno for CannotRead and TempFile
  std::string place;        // TempFile: the temporary folder
};
// Whether the failure is the system's (memory, descriptors, temporary space,
// a read error, a stop request) rather than anything in the file's bytes:
// the same file may split another time.
bool IsSystemFailure(const BreakOutFailure& failure);
// Whether the failure is damage to the bytes after a frame that was read
// whole (cut short, a broken block): what a salvage keeps the frames before.
bool IsDamage(BreakOutReason reason);
// "truncated in the image data (byte 812 of 900, frame 3)".
std::string DescribeFailure(const BreakOutFailure& failure);
// A stable name for the reason, for machines: "truncated-image-data".
const char* ReasonId(BreakOutReason reason);

// One frame a split run exported: its number (from 1), the file it went to,
// and why it is not there when it could not be written ("No space left on
// device").
struct ExportedFrame {
  std::int64_t n = 0;
  std::string path;
  bool written = false;
  std::string reason;
  // Not written because a file of its name was there and the run keeps what
  // it finds (reason "exists"): what was asked, not a failure.
  bool kept = false;
};

// Where a split run hands its frames: the window lists them, the command line
// prints and counts them. Called on the thread that runs the engine, in frame
// order, once each frame's file has been written or has failed.
class ExportSink {
 public:
  virtual ~ExportSink() = default;
  virtual void FrameExported(const ExportedFrame& frame) = 0;
};

// What a run did: why the file could not be broken into frames (reason None
// when it was), then what the play did: the frames written and those that
// were not, with their reasons. A run stopped by the window exports no frame
// past the stop; a run that ran out of memory reports every frame it could
// not export.
struct RunResult {
  BreakOutFailure breakOut;
  bool BrokenOut() const { return breakOut.reason == BreakOutReason::None; }
  std::int64_t framesWritten = 0;
  std::int64_t framesKept = 0;  // not written, their names taken (see ExportedFrame)
  std::vector<ExportedFrame> failed;
  bool Complete() const { return failed.empty(); }
  // Why the play stopped before its last frame when the source file was the
  // cause, not the frame files: a frame whose data could not be read or
  // decoded (reason None otherwise).
  BreakOutFailure playFailure;
};
