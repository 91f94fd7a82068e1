#include "DynamicLibrary.h"

#include <utility>

// The ownership part is the same everywhere; opening, symbols and closing are per platform.
DynamicLibrary::DynamicLibrary(void *handle, std::string error, std::string file, Failure failure)
    : handle_(handle), error_(std::move(error)), file_(std::move(file)),
      failure_(handle ? Failure::None : failure)
{
}

DynamicLibrary::~DynamicLibrary()
{
    close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)),
      file_(std::move(other.file_)), failure_(other.failure_)
{
}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
        file_ = std::move(other.file_);
        failure_ = other.failure_;
    }
    return *this;
}
