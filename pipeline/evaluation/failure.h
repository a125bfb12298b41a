// How each front end words an error: the one table of the pipeline's
// messages for what stops the evaluation of an image.
#pragma once

#include <string>
#include <string_view>

#include "io/status.h"

namespace demosaic {

// The message demosaic-eval prints on standard output (no line end).
std::string ToolMessage(ErrorKind kind);

// "at least 7 x 7 pixels are needed": the one rule for images too small to
// reconstruct, as every front end words it.
std::string MinimumSizeText();

// The reason demosaic-bench and the Python evaluation give for a skipped
// image, in lower case to follow a file name: the kind's own words, or the
// error's detail where the kind alone would not say enough (an image too
// small for the border and the figures asked for).
std::string SkipReason(const Error& error);

// "PATH (cannot be written)", or "PATH (too many open files)" when the
// write failed for want of a descriptor: how a file not written is named in
// the run's summary.
std::string UnwrittenNote(const std::string& path, const Status& status);

// True for a note of UnwrittenNote's that a run with fewer images at once
// could have avoided (no descriptor left).
bool NoteIsTooManyFiles(std::string_view note);

}  // namespace demosaic
