#pragma once

// Typed errors raised where the outside world comes in: files, sizes, transforms, arguments.
// The numeric core itself never throws.

#include <stdexcept>
#include <string>

namespace lumetra {

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be opened, decoded or is not a sane image.
class ImageReadError : public Error {
  public:
    using Error::Error;
};

// A degraded image whose size differs from the original's, or an image too small to score.
class SizeMismatchError : public Error {
  public:
    using Error::Error;
};

// An FFTW buffer or planning failure.
class FftError : public Error {
  public:
    using Error::Error;
};

// A command line that does not match what the program accepts.
class ArgumentError : public Error {
  public:
    using Error::Error;
};

// A model parameter that is not a number, infinite or outside its range.
class ParameterError : public Error {
  public:
    using Error::Error;
};

// Not enough memory for what was asked: "needs about 68.7 GB; 21.3 GB available", said before
// anything large is allocated.
class MemoryLimitError : public Error {
  public:
    using Error::Error;
};

// A comparison whose measure came out infinite or not a number: parameters or viewing
// conditions far outside what the model covers.  Never a result.
class NonFiniteMeasureError : public Error {
  public:
    using Error::Error;
};

}  // namespace lumetra
