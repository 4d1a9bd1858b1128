// The tool's failures and warnings: a cause in one line, to which the caller adds the file it
// concerns.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace OmbrelRender {

class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Receives a warning's cause (one line); the caller knows the file it concerns.
using Warn = std::function<void(const std::string& cause)>;

} // namespace OmbrelRender
