// The one error type of the pipeline, from reading a file to writing a
// report: what went wrong (a kind the front ends word in their own way) and
// the detail that names the file or the value. Every fallible pipeline call
// returns a Status or an Expected<T>; nothing signals failure through an
// out-parameter, an empty string or errno.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace demosaic {

enum class ErrorKind {
  kUnreadable,           // missing, not a file, or not decodable (a JPEG cut short included)
  kOutOfMemory,          // would not fit in the memory the system can give
  kTooSmall,             // no interior to reconstruct, or none for the border and figures asked
  kOverwritesReference,  // an output names the reference or another input
  kUnwritable,           // a file or stream that could not be written
  kTooManyFiles,         // no file descriptor left to open one (EMFILE, ENFILE)
  kInvalidArgument,      // a command-line value, a destination or an argument refused up front
  kOther,                // anything else (a missing file, a fault): the detail says what
};

struct Error {
  ErrorKind kind = ErrorKind::kUnreadable;
  // The words that follow the kind's own: the file, the value or the reason.
  // May be empty where the kind says it all.
  std::string detail;
};

// Success, or the Error that stopped a call.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit by design

  bool ok() const { return !failed_; }
  // Requires !ok().
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

// A value, or the Error that stopped its making (GCC 12 has no
// std::expected).
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Expected(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  // Require ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // Requires !ok().
  const Error& error() const { return std::get<1>(state_); }
  // The error as a Status, or success.
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> state_;
};

// Call only inside a catch block: the current exception as an out-of-memory
// Error when it is one (std::bad_alloc, or the image library's own
// allocation failure); any other exception is rethrown, to be reported as
// the fault it is. The one place that decides what running out of memory
// looks like.
Error OutOfMemoryOrRethrow();

}  // namespace demosaic
