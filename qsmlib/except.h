// The exception family of the system. Every error that a caller may catch
// generically derives from Exception (itself a std::runtime_error); the
// request to end the process (processing/runparams.h) deliberately does not.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that does not convert to a number, e.g. "'abc' is not a valid integer value".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A failed read, write or close of a file, e.g. "Read beyond end of file".
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};
