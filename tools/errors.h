// Error classes shared by every layer of Kesl.
#pragma once

#include <stdexcept>
#include <string>

// Base of every error Kesl raises on purpose. what() is the finished,
// user-facing message; callers show it as it stands.
class EKeslError : public std::runtime_error {
 public:
  explicit EKeslError(const std::string& Message) : std::runtime_error(Message) {}
};

// An index outside a list: "List index out of bounds (%d)".
class EListError : public EKeslError {
 public:
  explicit EListError(int Index);
};

// A file that cannot be opened, with the system's reason.
class EFOpenError : public EKeslError {
 public:
  using EKeslError::EKeslError;
};

// A read or seek that the system refused.
class EReadError : public EKeslError {
 public:
  using EKeslError::EKeslError;
};

// A database that cannot be loaded or linked: a bad header, a section count
// out of bounds, a body that ends inside a record, a block that names no
// country or registry.
class EDatabaseError : public EKeslError {
 public:
  using EKeslError::EKeslError;
};
