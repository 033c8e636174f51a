// The exception hierarchy of the system: every error carries a fixed English
// message, and every class answers the name that messages and tests use.
#pragma once

#include <exception>
#include <string>

namespace lumetra {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// Declares an exception class that only adds its name.
#define LUMETRA_DECLARE_EXCEPTION(Name, Base)                               \
  class Name : public Base {                                                \
   public:                                                                  \
    using Base::Base;                                                       \
    const char* ClassName() const noexcept override { return #Name; }       \
  }

LUMETRA_DECLARE_EXCEPTION(EConvertError, Exception);
LUMETRA_DECLARE_EXCEPTION(EStreamError, Exception);
LUMETRA_DECLARE_EXCEPTION(EReadError, EStreamError);
LUMETRA_DECLARE_EXCEPTION(EWriteError, EStreamError);
LUMETRA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
LUMETRA_DECLARE_EXCEPTION(EFCreateError, EStreamError);
LUMETRA_DECLARE_EXCEPTION(EOutOfMemory, Exception);
LUMETRA_DECLARE_EXCEPTION(EOutOfResources, Exception);
LUMETRA_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
LUMETRA_DECLARE_EXCEPTION(EInvalidOperation, Exception);

}  // namespace lumetra
